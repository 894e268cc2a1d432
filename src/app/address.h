// GetLocalAddress: the PC's IPv4 address in dotted form, looked up afresh at every call, or ""
// when the lookup fails; never throws. A fixed address given with --address replaces the lookup.
// Safe from any thread (the override is set once, before other threads start).
#pragma once
#include <string>

namespace tovi::app {

std::string GetLocalAddress();

// "" restores the lookup.
void SetLocalAddressOverride(const std::string& address);

}  // namespace tovi::app

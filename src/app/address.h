// Which address the PC announces and serves at. The automatic choice ranks the adapters the
// system lists: an adapter that is up, has an IPv4 address outside loopback and link-local and
// is no virtual or VPN adapter (by the kind the system reports and by the names and
// descriptions those products give theirs) qualifies, one whose link is lost for now after those
// with a link (Linux keeps its addresses, and streams go on when the link is back); among those,
// one with a default gateway comes first (the lowest metric first), on it the address whose
// network holds that gateway (the one the LAN's devices reach), then private ranges before
// others, then the system's order. The user may prefer an adapter; a fixed address given with
// --address beats both. The host name's address is looked up only when no adapter qualifies.
// Pure functions apart from GetLocalAddress, which asks the system afresh at every call; none
// throws. Safe from any thread (the override is set once, before other threads start).
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "platform/address.h"

namespace tovi::app {

struct AddressCandidate {
  std::string adapterId;
  std::string adapterName;
  std::string address;     // dotted
  bool automatic = false;  // the automatic choice may take it (no virtual or VPN adapter)
};

// Every address a TV could be sent to (adapter up, IPv4 outside loopback, link-local and
// 0.0.0.0), best first: those the automatic choice may take, in its order, then the rest.
std::vector<AddressCandidate> RankAddresses(const std::vector<net::Adapter>& adapters);

// The preferred adapter's first candidate while it has one; else the first automatic one;
// else nameLookup() (when it finds nothing: the first candidate at all, or "").
std::string ChooseAddress(const std::vector<AddressCandidate>& ranked,
                          const std::string& preferredAdapterId,
                          const std::function<std::string()>& nameLookup);

// The address in use: the --address override, else ChooseAddress over the system's adapters.
std::string GetLocalAddress(const std::string& preferredAdapterId = "");

// The --address value; "" restores the choice.
void SetLocalAddressOverride(const std::string& address);
const std::string& LocalAddressOverride();

}  // namespace tovi::app

// The user's regional conventions as the program shows numbers.
// Windows: the user's locale settings, overrides included; POSIX: the C conventions.
// Safe from any thread.
#pragma once
#include <string>

namespace tovi::regional {

// The decimal separator (UTF-8): "," on a Russian Windows, "." on an English one and on POSIX.
std::string DecimalSeparator();

}  // namespace tovi::regional

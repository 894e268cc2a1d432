// POSIX: size labels keep the point, whatever the locale of the terminal.
#include "platform/regional.h"

namespace tovi::regional {

std::string DecimalSeparator() { return "."; }

}  // namespace tovi::regional

// How the POSIX lookup picks the PC's address from what the system lists, apart from the lists
// themselves so that any machine's can be given to it. Pure, safe from any thread.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tovi::net {

struct InterfaceAddress {
  std::uint32_t address = 0;  // IPv4, host byte order
  bool up = false;
  bool loopback = false;      // the interface's own flag
};

// Dotted: the first of the host name's addresses outside 127/8 (where the host's name often
// resolves to), else the first of an interface that is up, not a loopback interface and outside
// 127/8; "" when there is none.
std::string ChooseHostAddress(const std::vector<std::uint32_t>& nameAddresses,
                              const std::vector<InterfaceAddress>& interfaces);

}  // namespace tovi::net

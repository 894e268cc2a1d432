// Which address the Linux build announces, on the machines users have.
#include "platform/posix/host_address.h"

#include <gtest/gtest.h>

namespace tovi::net {
namespace {

constexpr std::uint32_t Ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

TEST(HostAddress, TheLanAddressNeverALoopbackOne) {
  const InterfaceAddress lo{Ip(127, 0, 0, 1), true, true};
  const InterfaceAddress lan{Ip(192, 168, 1, 20), true, false};
  struct Case {
    const char* machine;
    std::vector<std::uint32_t> byName;
    std::vector<InterfaceAddress> interfaces;
    std::string chosen;
  };
  const Case cases[] = {
      {"name resolves to 127.0.1.1 (Debian's hosts file)", {Ip(127, 0, 1, 1)}, {lo, lan},
       "192.168.1.20"},
      {"name resolves to the LAN address", {Ip(10, 0, 0, 5)}, {lo, lan}, "10.0.0.5"},
      {"loopback first among the name's addresses", {Ip(127, 0, 0, 1), Ip(10, 0, 0, 5)}, {},
       "10.0.0.5"},
      {"an interface that is down is passed over", {},
       {{Ip(10, 1, 1, 1), false, false}, lan}, "192.168.1.20"},
      {"a loopback interface with another address is passed over", {},
       {{Ip(10, 2, 2, 2), true, true}, lan}, "192.168.1.20"},
      {"an interface up with a 127/8 address is passed over", {},
       {{Ip(127, 0, 0, 2), true, false}, lan}, "192.168.1.20"},
      {"no network: only loopback", {Ip(127, 0, 0, 1)}, {lo}, ""},
      {"nothing listed", {}, {}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseHostAddress(c.byName, c.interfaces), c.chosen) << c.machine;
}

}  // namespace
}  // namespace tovi::net

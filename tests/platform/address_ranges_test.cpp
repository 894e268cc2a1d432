// The special-purpose ranges, each at its edges: what "/parserlink" lets a device reach rests on
// them.
#include "platform/address.h"

#include <gtest/gtest.h>

namespace tovi::net {
namespace {

constexpr std::uint32_t Ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

TEST(AddressRanges, EachSpecialRangeEdgeToEdgeAndPublicBetween) {
  struct Case { std::uint32_t first, last; AddressRange range; };
  const Case cases[] = {
      {Ip(0, 0, 0, 0), Ip(0, 255, 255, 255), AddressRange::ThisNetwork},
      {Ip(1, 0, 0, 0), Ip(9, 255, 255, 255), AddressRange::Public},
      {Ip(10, 0, 0, 0), Ip(10, 255, 255, 255), AddressRange::Private},
      {Ip(100, 63, 255, 255), Ip(100, 63, 255, 255), AddressRange::Public},
      {Ip(100, 64, 0, 0), Ip(100, 127, 255, 255), AddressRange::Shared},
      {Ip(100, 128, 0, 0), Ip(126, 255, 255, 255), AddressRange::Public},
      {Ip(127, 0, 0, 0), Ip(127, 255, 255, 255), AddressRange::Loopback},
      {Ip(169, 253, 255, 255), Ip(169, 253, 255, 255), AddressRange::Public},
      {Ip(169, 254, 0, 0), Ip(169, 254, 255, 255), AddressRange::LinkLocal},
      {Ip(172, 15, 255, 255), Ip(172, 15, 255, 255), AddressRange::Public},
      {Ip(172, 16, 0, 0), Ip(172, 31, 255, 255), AddressRange::Private},
      {Ip(172, 32, 0, 0), Ip(172, 32, 0, 0), AddressRange::Public},
      {Ip(192, 0, 0, 0), Ip(192, 0, 0, 255), AddressRange::Reserved},
      {Ip(192, 0, 2, 0), Ip(192, 0, 2, 255), AddressRange::Reserved},
      {Ip(192, 88, 99, 0), Ip(192, 88, 99, 255), AddressRange::Reserved},
      {Ip(192, 167, 255, 255), Ip(192, 167, 255, 255), AddressRange::Public},
      {Ip(192, 168, 0, 0), Ip(192, 168, 255, 255), AddressRange::Private},
      {Ip(192, 169, 0, 0), Ip(192, 169, 0, 0), AddressRange::Public},
      {Ip(198, 18, 0, 0), Ip(198, 19, 255, 255), AddressRange::Reserved},
      {Ip(198, 51, 100, 0), Ip(198, 51, 100, 255), AddressRange::Reserved},
      {Ip(203, 0, 113, 0), Ip(203, 0, 113, 255), AddressRange::Reserved},
      {Ip(223, 255, 255, 255), Ip(223, 255, 255, 255), AddressRange::Public},
      {Ip(224, 0, 0, 0), Ip(239, 255, 255, 255), AddressRange::Multicast},
      {Ip(240, 0, 0, 0), Ip(255, 255, 255, 255), AddressRange::Reserved},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RangeOf(c.first), c.range) << DottedIPv4(c.first);
    EXPECT_EQ(RangeOf(c.last), c.range) << DottedIPv4(c.last);
  }
}

}  // namespace
}  // namespace tovi::net

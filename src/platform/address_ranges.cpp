// The special-purpose IPv4 ranges, as the address registry lists them.
#include "platform/address.h"

namespace tovi::net {

namespace {

struct Block {
  std::uint32_t network;
  int bits;
  AddressRange range;
};

constexpr std::uint32_t Ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

constexpr Block kBlocks[] = {
    {Ip(0, 0, 0, 0), 8, AddressRange::ThisNetwork},   {Ip(10, 0, 0, 0), 8, AddressRange::Private},
    {Ip(100, 64, 0, 0), 10, AddressRange::Shared},    {Ip(127, 0, 0, 0), 8, AddressRange::Loopback},
    {Ip(169, 254, 0, 0), 16, AddressRange::LinkLocal}, {Ip(172, 16, 0, 0), 12, AddressRange::Private},
    {Ip(192, 0, 0, 0), 24, AddressRange::Reserved},   {Ip(192, 0, 2, 0), 24, AddressRange::Reserved},
    {Ip(192, 88, 99, 0), 24, AddressRange::Reserved}, {Ip(192, 168, 0, 0), 16, AddressRange::Private},
    {Ip(198, 18, 0, 0), 15, AddressRange::Reserved},  {Ip(198, 51, 100, 0), 24, AddressRange::Reserved},
    {Ip(203, 0, 113, 0), 24, AddressRange::Reserved}, {Ip(224, 0, 0, 0), 4, AddressRange::Multicast},
    {Ip(240, 0, 0, 0), 4, AddressRange::Reserved},
};

}  // namespace

AddressRange RangeOf(std::uint32_t address) {
  for (const Block& b : kBlocks) {
    if ((address >> (32 - b.bits)) == (b.network >> (32 - b.bits))) return b.range;
  }
  return AddressRange::Public;
}

}  // namespace tovi::net

#include "platform/random.h"

#include <gtest/gtest.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

namespace tovi::machine {
namespace {

// A source that is stuck, short or weak makes ids a peer can guess. Every byte value turns up
// in 8 KiB of random bytes but for a chance of about 1e-11; two 16-byte draws never agree.
TEST(FillRandom, FillsWholeBuffersWithFreshBytes) {
  std::vector<std::uint8_t> bytes(8192);
  FillRandom(bytes);
  std::bitset<256> seen;
  for (std::uint8_t b : bytes) seen.set(b);
  EXPECT_EQ(seen.count(), 256u);

  std::array<std::uint8_t, 16> first{}, second{};
  FillRandom(first);
  FillRandom(second);
  EXPECT_NE(first, second);
}

}  // namespace
}  // namespace tovi::machine

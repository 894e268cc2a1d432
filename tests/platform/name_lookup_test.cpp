#include "platform/name_lookup.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/held_lookup.h"
#include "support/wait.h"

namespace tovi::net {
namespace {

using Clock = std::chrono::steady_clock;

TEST(NameLookup, AWaitEndsAtItsLimitOrStopWhileAtMostTheBoundRunOn) {
  testing::HeldLookup held;
  ASSERT_EQ(PendingLookups(), 0);
  Endpoint found;

  // The limit and the stop end the wait; the lookups themselves go on, left behind.
  const auto start = Clock::now();
  EXPECT_EQ(LookupIPv4("slow.example", &found, 200, {}, held.Lookup()), kErrTimedOut);
  EXPECT_EQ(LookupIPv4("slow.example", &found, 0,
                       [&] { return Clock::now() - start > std::chrono::milliseconds(400); },
                       held.Lookup()),
            kErrInterrupted);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(PendingLookups(), 2);

  // Up to the bound; past it a lookup fails at once without starting.
  while (PendingLookups() < kMaxPendingLookups)
    EXPECT_EQ(LookupIPv4("slow.example", &found, 1, {}, held.Lookup()), kErrTimedOut);
  EXPECT_EQ(LookupIPv4("slow.example", &found, 0, {}, held.Lookup()), kErrNoBuffers);
  EXPECT_EQ(PendingLookups(), kMaxPendingLookups);

  // Once the resolver answers, the threads left behind end on their own and lookups work again.
  held.Release();
  EXPECT_TRUE(testing::WaitUntil([] { return PendingLookups() == 0; }, 10000));
  EXPECT_EQ(LookupIPv4("slow.example", &found, 1000, {}, held.Lookup()), 0);
  EXPECT_EQ(found.address[0], 10);
  EXPECT_EQ(found.address[3], 7);
  EXPECT_EQ(LookupIPv4("localhost", &found, 5000), 0) << "the system's own lookup";
  EXPECT_EQ(found.address[0], 127);
  EXPECT_TRUE(testing::WaitUntil([] { return PendingLookups() == 0; }, 10000));
}

}  // namespace
}  // namespace tovi::net

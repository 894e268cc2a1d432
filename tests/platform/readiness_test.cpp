// Waiting on sockets: what the engine's waiting connections and its reads and sends rely on.
#include "platform/readiness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "support/loopback.h"

namespace tovi::net {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using testing::Connected;

// The tags one Wait reports, sorted, and how long it took.
struct Report {
  bool ok = false;
  std::vector<std::uint64_t> tags;
  Clock::duration took{};
};

Report WaitOnce(ReadinessWait& wait, int timeoutMs) {
  Report r;
  const auto start = Clock::now();
  r.ok = wait.Wait(timeoutMs, r.tags);
  r.took = Clock::now() - start;
  std::sort(r.tags.begin(), r.tags.end());
  return r;
}

// Windows wakes the wait on each Watch, so that its poll takes the new socket in: a quiet
// socket's Watch may end the next Wait early, and the waits measured here come after that one.
void SettleAfterWatch(ReadinessWait& wait) {
  std::vector<std::uint64_t> none;
  ASSERT_TRUE(wait.Wait(0, none));
  ASSERT_TRUE(none.empty());
}

// A socket is reported when its peer sent bytes or went away, once per Watch; nothing else
// ends a wait before its time (or a Wake) does.
TEST(ReadinessWait, ReportsReadableAndClosedPeersOncePerWatchAndHonoursItsTime) {
  enum class Peer { Quiet, Sends, Closes, SendsForgotten };
  const struct {
    const char* what;
    Peer peer;
    bool reported;
  } cases[] = {
      {"a quiet peer", Peer::Quiet, false},
      {"a peer that sent bytes", Peer::Sends, true},
      {"a peer that closed", Peer::Closes, true},
      {"a forgotten socket", Peer::SendsForgotten, false},
  };
  for (const auto& c : cases) {
    ReadinessWait wait;
    Connected pair;
    ASSERT_TRUE(wait.Watch(pair.local, 7)) << c.what;
    SettleAfterWatch(wait);
    if (c.peer == Peer::Closes) pair.CloseRemote();
    if (c.peer == Peer::Sends || c.peer == Peer::SendsForgotten) {
      ASSERT_EQ(Send(pair.remote, "x", 1), 1) << c.what;
    }
    if (c.peer == Peer::SendsForgotten) wait.Forget(pair.local);
    const int limitMs = c.reported ? 5000 : 200;
    const Report first = WaitOnce(wait, limitMs);
    EXPECT_TRUE(first.ok) << c.what;
    EXPECT_EQ(first.tags, c.reported ? std::vector<std::uint64_t>{7} : std::vector<std::uint64_t>{})
        << c.what;
    if (!c.reported) {
      EXPECT_GE(first.took, milliseconds(limitMs - 20)) << c.what;
    }
    EXPECT_LT(first.took, milliseconds(3000 + (c.reported ? 0 : limitMs))) << c.what;
    if (!c.reported) continue;
    // Still readable, but reported once: not again until watched again.
    EXPECT_EQ(WaitOnce(wait, 100).tags, std::vector<std::uint64_t>{}) << c.what;
    ASSERT_TRUE(wait.Watch(pair.local, 8)) << c.what;
    EXPECT_EQ(WaitOnce(wait, 5000).tags, std::vector<std::uint64_t>{8}) << c.what;
  }
}

// A Wake from another thread ends the Wait it meets (in progress or the next), and only that one.
TEST(ReadinessWait, AWakeEndsOneWaitEarly) {
  ReadinessWait wait;
  Connected pair;
  ASSERT_TRUE(wait.Watch(pair.local, 1));
  SettleAfterWatch(wait);
  std::thread waker([&] { wait.Wake(); });
  const Report woken = WaitOnce(wait, 10000);
  waker.join();
  EXPECT_TRUE(woken.ok);
  EXPECT_TRUE(woken.tags.empty());
  EXPECT_LT(woken.took, milliseconds(3000)) << "the Wake was lost";
  EXPECT_GE(WaitOnce(wait, 100).took, milliseconds(80)) << "one Wake ended two waits";
}

// More sockets ready at once than one call takes from the system: each is reported, once.
TEST(ReadinessWait, ManyReadySocketsAreEachReportedOnce) {
  constexpr std::uint64_t kSockets = 300;
  ReadinessWait wait;
  std::vector<std::unique_ptr<Connected>> pairs;
  for (std::uint64_t i = 0; i < kSockets; ++i) {
    pairs.push_back(std::make_unique<Connected>());
    ASSERT_TRUE(wait.Watch(pairs.back()->local, i));
    ASSERT_EQ(Send(pairs.back()->remote, "x", 1), 1);
  }
  std::vector<std::uint64_t> tags;
  for (int call = 0; call < 20 && tags.size() < kSockets; ++call) {
    const Report r = WaitOnce(wait, 5000);
    ASSERT_TRUE(r.ok);
    tags.insert(tags.end(), r.tags.begin(), r.tags.end());
  }
  std::sort(tags.begin(), tags.end());
  std::vector<std::uint64_t> all(kSockets);
  for (std::uint64_t i = 0; i < kSockets; ++i) all[i] = i;
  EXPECT_EQ(tags, all);
}

// One socket's wait, as reads and sends use it: 1 ready, 0 when the time ran out first.
TEST(SocketWait, ReportsReadableWritableAndClosedPeersWithinItsTime) {
  enum class Peer { Quiet, Sends, Closes, ReadsNothingWhileWeFillIt };
  constexpr int kEither = -3;  // ready or not, within its time
  const struct {
    const char* what;
    Peer peer;
    int readable;
    int writable;
  } cases[] = {
      {"a quiet peer", Peer::Quiet, 0, 1},
      {"a peer that sent bytes", Peer::Sends, 1, 1},
      {"a peer that closed", Peer::Closes, 1, -2},  // writable or an error: either ends a send
      // Whether room shows again is the system's: wine's sockets grow their buffers and report
      // room soon after a send would block. The stopped reader's tests cover the send's bound.
      {"a peer that reads nothing", Peer::ReadsNothingWhileWeFillIt, 0, kEither},
  };
  for (const auto& c : cases) {
    Connected pair;
    if (c.peer == Peer::Sends) {
      ASSERT_EQ(Send(pair.remote, "x", 1), 1) << c.what;
    }
    if (c.peer == Peer::Closes) pair.CloseRemote();
    if (c.peer == Peer::ReadsNothingWhileWeFillIt) {
      // Large pieces, then single bytes: a system may refuse a large piece while room is left.
      const std::string block(65536, 'b');
      for (const std::size_t piece : {block.size(), std::size_t{1}}) {
        long sent = 1;
        for (int i = 0; i < 100000 && sent > 0; ++i) {
          sent = SendWithin(pair.local, block.data(), piece, 0);
        }
        ASSERT_EQ(sent, 0) << c.what << ": the buffers never filled";
      }
    }
    for (const bool reading : {true, false}) {
      const int expected = reading ? c.readable : c.writable;
      const auto start = Clock::now();
      const int got = reading ? WaitReadable(pair.local, 200) : WaitWritable(pair.local, 200);
      const auto took = Clock::now() - start;
      const char* which = reading ? "readable" : "writable";
      if (expected == -2) {
        EXPECT_NE(got, 0) << c.what << ", " << which;
      } else if (expected == kEither) {
        EXPECT_GE(got, 0) << c.what << ", " << which;
      } else {
        EXPECT_EQ(got, expected) << c.what << ", " << which;
      }
      if (expected == 0) {
        EXPECT_GE(took, milliseconds(180)) << c.what << ", " << which;
      }
      EXPECT_LT(took, milliseconds(3000)) << c.what << ", " << which;
    }
  }
  // A short wait lasts its whole time too (a request's first bytes are waited for 2 ms).
  Connected quiet;
  const auto start = Clock::now();
  EXPECT_EQ(WaitReadable(quiet.local, 2), 0);
  EXPECT_GE(Clock::now() - start, milliseconds(2)) << "a 2 ms wait";
}

}  // namespace
}  // namespace tovi::net

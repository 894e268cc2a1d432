#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include "platform/socket.h"
#include "support/loopback.h"
#include "support/wait.h"

namespace tovi::net {
namespace {

using testing::Loopback;

// A wait far longer than any test: a waiter that returns did so because it was woken.
constexpr int kLongWaitMs = 120 * 1000;
constexpr auto kWokenWithin = std::chrono::seconds(5);

struct Listening {
  SocketHandle socket = OpenStream();
  Endpoint address = Loopback(0);
  Listening() {
    EXPECT_EQ(Bind(socket, address), 0);
    EXPECT_EQ(Listen(socket, 4), 0);
    EXPECT_EQ(LocalEndpoint(socket, &address), 0);
  }
  ~Listening() { Close(socket); }
};

// A thread that accepts on the waits until a wait ends without a connection (other than a time-out,
// which another waiter taking the connection also gives): its error then.
struct Waiter {
  std::atomic<int> accepted{0};
  std::future<int> ended;
  explicit Waiter(AcceptWaits& waits)
      : ended(std::async(std::launch::async, [this, &waits] {
          for (;;) {
            const SocketHandle s = waits.Accept(nullptr);
            if (s != kInvalidSocket) {
              Close(s);
              ++accepted;
            } else if (LastError() != kErrTimedOut) {
              return LastError();
            }
          }
        })) {}
};

TEST(AcceptWaits, AStopEndsEveryWaitUnderWayAndToComeAtOnce) {
  Startup();
  Listening listening;
  const std::unique_ptr<AcceptWaits> waits = AcceptWaits::Open(listening.socket, kLongWaitMs);
  ASSERT_TRUE(waits);
  // Two threads wait on one socket, as the server's kept threads do. Once both connections are
  // taken, whoever took them is waiting again.
  Waiter one(*waits);
  Waiter two(*waits);
  const SocketHandle clients[] = {OpenStream(), OpenStream()};
  for (const SocketHandle client : clients) {
    ASSERT_EQ(Connect(client, listening.address, 5000), 0);
  }
  EXPECT_TRUE(testing::WaitUntil([&] { return one.accepted + two.accepted == 2; }, 5000));

  waits->Stop();
  for (Waiter* waiter : {&one, &two}) {
    ASSERT_EQ(waiter->ended.wait_for(kWokenWithin), std::future_status::ready);
    EXPECT_EQ(waiter->ended.get(), kErrInterrupted);
  }
  Waiter later(*waits);
  ASSERT_EQ(later.ended.wait_for(kWokenWithin), std::future_status::ready);
  EXPECT_EQ(later.ended.get(), kErrInterrupted);
  EXPECT_EQ(later.accepted, 0);
  for (const SocketHandle client : clients) Close(client);
}

}  // namespace
}  // namespace tovi::net

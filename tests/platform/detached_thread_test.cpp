#include "platform/detached_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace tovi::process {
namespace {

// A thread let go before it has begun must still run. Busy processors keep each new thread
// waiting for its turn while the starter goes on, which is when Windows' threads library lost
// one in about fifty.
TEST(DetachedThread, EveryThreadStartedRunsWhileTheProcessorsAreBusy) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> busy;
  for (int i = 0; i < 2; ++i) busy.emplace_back([&stop] { while (!stop) {} });
  constexpr int kStarts = 300;
  int ran = 0;
  for (int i = 0; i < kStarts; ++i) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    if (!StartDetachedThread([done] { *done = true; })) break;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!*done && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    if (!*done) break;
    ++ran;
  }
  stop = true;
  for (std::thread& t : busy) t.join();
  EXPECT_EQ(ran, kStarts);
}

}  // namespace
}  // namespace tovi::process

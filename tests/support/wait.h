// A bounded wait for a condition that another thread or process brings about.
#pragma once
#include <chrono>
#include <functional>
#include <thread>

namespace tovi::testing {

// Polls done() every 10 ms; false when it is still false after timeoutMs.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

}  // namespace tovi::testing

// A stand-in for the system's name lookup that answers only when released: a resolver that
// does not answer, for tests of whoever waits for it. Every lookup it runs waits at most
// kHoldLimitMs, so none outlives a test run by much even if nobody releases it.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "platform/name_lookup.h"

namespace tovi::testing {

class HeldLookup {
 public:
  static constexpr int kHoldLimitMs = 30000;

  HeldLookup() : state_(std::make_shared<State>()) {}
  ~HeldLookup() { Release(); }
  HeldLookup(const HeldLookup&) = delete;
  HeldLookup& operator=(const HeldLookup&) = delete;

  // The lookup to hand to the code under test; it answers 10.9.8.7 once released. It shares
  // only the state, so it may outlive this object.
  net::NameLookup Lookup() const {
    return [state = state_](const std::string&, net::Endpoint* out) {
      ++state->started;
      std::unique_lock<std::mutex> hold(state->lock);
      if (!state->released.wait_for(hold, std::chrono::milliseconds(kHoldLimitMs),
                                    [&] { return state->open; })) {
        return net::kErrTimedOut;
      }
      out->address[0] = 10, out->address[1] = 9, out->address[2] = 8, out->address[3] = 7;
      return 0;
    };
  }
  // Lookups that have begun so far.
  int Started() const { return state_->started.load(); }
  void Release() {
    {
      std::lock_guard<std::mutex> hold(state_->lock);
      state_->open = true;
    }
    state_->released.notify_all();
  }

 private:
  struct State {
    std::mutex lock;
    std::condition_variable released;
    bool open = false;
    std::atomic<int> started{0};
  };
  std::shared_ptr<State> state_;
};

}  // namespace tovi::testing

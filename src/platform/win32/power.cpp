// The execution state belongs to the thread that sets it and lasts while that thread lives, so
// the hold is a thread of its own: it sets the state, waits to be released, clears it and ends.
// Callers on any thread (connection threads start a hold, the GUI thread ends it) then share one
// state instead of each leaving its own behind.
#include <windows.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/power.h"

namespace tovi::power {

namespace {

class ExecutionStateBlocker : public SleepBlocker {
 public:
  ~ExecutionStateBlocker() override { Release(); }

  void Hold() override {
    if (holder_.joinable()) return;
    released_ = false;
    holder_ = std::thread([this] {
      SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED);
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return released_; });
      SetThreadExecutionState(ES_CONTINUOUS);
    });
  }

  void Release() override {
    if (!holder_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    wake_.notify_all();
    holder_.join();  // it only clears the state and ends
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool released_ = false;
  std::thread holder_;
};

}  // namespace

std::unique_ptr<SleepBlocker> CreateSystemSleepBlocker() {
  return std::make_unique<ExecutionStateBlocker>();
}

}  // namespace tovi::power

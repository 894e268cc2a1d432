// A counting limit on the large answers built or sent at once: a Browse that would hold many
// objects takes a permit until its answer has been sent, waiting a bounded time for one; without
// a permit it answers a smaller page (TotalMatches stays exact, so a control point that pages
// gets the rest). The memory many concurrent Browses take so stays a few large answers'.
// Thread safety: Acquire and release from any threads at once.
#pragma once
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tovi::dlna {

class AnswerPermits {
 public:
  class Permit {
   public:
    explicit Permit(AnswerPermits* owner) : owner_(owner) {}
    ~Permit() {
      if (owner_) owner_->Release();
    }
    Permit(Permit&& other) noexcept : owner_(other.owner_) { other.owner_ = nullptr; }
    Permit(const Permit&) = delete;
    Permit& operator=(const Permit&) = delete;
    Permit& operator=(Permit&&) = delete;
    explicit operator bool() const { return owner_ != nullptr; }

   private:
    AnswerPermits* owner_;
  };

  explicit AnswerPermits(int count) : free_(count) {}

  // A permit, or an empty one when none came free within wait.
  Permit Acquire(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(lock_);
    if (!freed_.wait_for(lock, wait, [this] { return free_ > 0; })) return Permit(nullptr);
    --free_;
    return Permit(this);
  }

 private:
  void Release() {
    {
      std::lock_guard<std::mutex> lock(lock_);
      ++free_;
    }
    freed_.notify_one();
  }

  std::mutex lock_;
  std::condition_variable freed_;
  int free_;  // permits not taken; never below 0
};

}  // namespace tovi::dlna

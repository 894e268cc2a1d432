// A counting limit on the large answers built or sent at once: a Browse that would hold many
// objects takes a permit until its answer has been sent, waiting a bounded time for one; without
// a permit it answers a smaller page (TotalMatches stays exact, so a control point that pages
// gets the rest). The memory many concurrent Browses take so stays a few large answers'.
// A permit may be taken for someone (a device's address): one holder takes at most its share,
// so that answers one device leaves unread cannot keep every other device waiting.
// Thread safety: Acquire and release from any threads at once.
#pragma once
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace tovi::dlna {

class AnswerPermits {
 public:
  class Permit {
   public:
    explicit Permit(AnswerPermits* owner, std::string holder = {})
        : owner_(owner), holder_(std::move(holder)) {}
    ~Permit() {
      if (owner_) owner_->Release(holder_);
    }
    Permit(Permit&& other) noexcept : owner_(other.owner_), holder_(std::move(other.holder_)) {
      other.owner_ = nullptr;
    }
    Permit(const Permit&) = delete;
    Permit& operator=(const Permit&) = delete;
    Permit& operator=(Permit&&) = delete;
    explicit operator bool() const { return owner_ != nullptr; }

   private:
    AnswerPermits* owner_;
    std::string holder_;
  };

  // share: the permits one named holder may have at once; 0: all of them.
  explicit AnswerPermits(int count, int share = 0)
      : free_(count), share_(share > 0 ? share : count) {}

  // A permit, or an empty one when none came free within wait; for holder (empty: no one in
  // particular), only while it holds fewer than its share.
  Permit Acquire(std::chrono::milliseconds wait, const std::string& holder = {}) {
    std::unique_lock<std::mutex> lock(lock_);
    const auto mayTake = [&] {
      if (free_ <= 0) return false;
      const auto it = held_.find(holder);
      return it == held_.end() || it->second < share_;
    };
    if (!freed_.wait_for(lock, wait, mayTake)) return Permit(nullptr);
    --free_;
    if (!holder.empty()) ++held_[holder];
    return Permit(this, holder);
  }

 private:
  void Release(const std::string& holder) {
    {
      std::lock_guard<std::mutex> lock(lock_);
      ++free_;
      if (!holder.empty() && --held_[holder] == 0) held_.erase(holder);
    }
    freed_.notify_all();  // the next in line may be a holder at its share
  }

  std::mutex lock_;
  std::condition_variable freed_;
  int free_;  // permits not taken; never below 0
  const int share_;
  std::map<std::string, int> held_;  // by holder, those holding any
};

}  // namespace tovi::dlna

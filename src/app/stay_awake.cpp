#include "app/stay_awake.h"

namespace tovi::app {

AwakeKeeper::~AwakeKeeper() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (held_) blocker_.Release();
}

void AwakeKeeper::StreamStarted() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++streams_;
  if (!held_) {
    blocker_.Hold();
    held_ = true;
  }
}

void AwakeKeeper::StreamEnded() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (streams_ == 0) return;  // an end without a start changes nothing
  if (--streams_ == 0) lastEnded_ = now_();
}

void AwakeKeeper::Poll() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (held_ && streams_ == 0 && now_() - lastEnded_ >= kAwakeTail) {
    blocker_.Release();
    held_ = false;
  }
}

bool AwakeKeeper::Held() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return held_;
}

}  // namespace tovi::app

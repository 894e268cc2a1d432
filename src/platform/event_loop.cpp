#include "platform/event_loop.h"

#include "platform/gui.h"

namespace tovi::gui {

void EventLoop::Post(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void EventLoop::UpdateTimer(Timer& timer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (timer.Enabled() && timer.Interval() > 0) {
    timers_[&timer] = Clock::now() + std::chrono::milliseconds(timer.Interval());
  } else {
    timers_.erase(&timer);
  }
}

void EventLoop::Quit() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
}

bool EventLoop::QuitRequested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return quit_;
}

bool EventLoop::HasPendingTasks() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !tasks_.empty();
}

// One task, or one due timer tick. With wait, sleeps until there is one or Quit; without,
// returns false when nothing is due by pendingUntil.
bool EventLoop::RunOne(bool wait, Clock::time_point pendingUntil) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (quit_) return false;
    if (!tasks_.empty()) {
      std::function<void()> task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      return true;
    }
    const Clock::time_point now = Clock::now();
    auto next = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (next == timers_.end() || it->second < next->second) next = it;
    }
    if (next != timers_.end() && next->second <= (wait ? now : pendingUntil)) {
      Timer* timer = next->first;
      // Ticks that fell due while a handler ran merge into this one.
      next->second = now + std::chrono::milliseconds(timer->Interval());
      lock.unlock();
      timer->Tick();
      return true;
    }
    if (!wait) return false;
    if (next != timers_.end()) {
      wake_.wait_until(lock, next->second);
    } else {
      wake_.wait(lock);
    }
  }
}

void EventLoop::RunUntil(const std::function<bool()>& done) {
  while (!done() && RunOne(true, Clock::now())) {
  }
}

void EventLoop::ProcessPending() {
  const Clock::time_point now = Clock::now();
  std::size_t budget;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    budget = tasks_.size() + timers_.size();
  }
  // Only what is there now: tasks that post tasks must not keep the caller here.
  while (budget-- > 0 && RunOne(false, now)) {
  }
}

}  // namespace tovi::gui

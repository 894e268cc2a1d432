// A message loop for front ends without a system one (the terminal, tests): posted tasks and
// timers, run on the thread that calls Run/RunUntil/ProcessPending (the GUI thread).
// Post may be called from any thread; everything else on the GUI thread.
#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>

namespace tovi::gui {

class Timer;

class EventLoop {
 public:
  void Post(std::function<void()> task);
  // Starts, restarts or stops the timer's ticks from its Enabled() and Interval().
  void UpdateTimer(Timer& timer);
  // Handles tasks and due timer ticks until Quit (or done() holds, checked after each event).
  void Run() { RunUntil([] { return false; }); }
  void RunUntil(const std::function<bool()>& done);
  // Handles the tasks posted so far and the ticks due now, without waiting.
  void ProcessPending();
  void Quit();
  bool QuitRequested() const;
  bool HasPendingTasks() const;

 private:
  using Clock = std::chrono::steady_clock;
  bool RunOne(bool wait, Clock::time_point pendingUntil);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::map<Timer*, Clock::time_point> timers_;  // next tick of every running timer
  bool quit_ = false;
};

}  // namespace tovi::gui

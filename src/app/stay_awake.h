// Keeps the PC awake while a TV plays: the sleep blocker is held from the first file stream on
// until kAwakeTail after the last one ended, so a pause or a seek (a new request) does not let
// the PC fall asleep between two streams. Streams overlap freely; only the count matters.
// The clock is given, so the tail can be tested without waiting; Poll releases a tail that has
// run out and must be called now and then (the form does every kAwakePollMs).
// Thread safety: StreamStarted/StreamEnded come from connection threads, Poll from the GUI
// thread; all are serialised here, and so are the blocker's calls.
#pragma once
#include <chrono>
#include <functional>
#include <mutex>

#include "platform/power.h"

namespace tovi::app {

using AwakeClock = std::chrono::steady_clock;
// How long the PC stays awake after the last stream ended.
inline constexpr std::chrono::minutes kAwakeTail{2};
// How often the form asks whether the tail has run out: the PC may sleep up to this much later.
inline constexpr int kAwakePollMs = 15000;

class AwakeKeeper {
 public:
  AwakeKeeper(power::SleepBlocker& blocker, std::function<AwakeClock::time_point()> now)
      : blocker_(blocker), now_(std::move(now)) {}
  ~AwakeKeeper();
  AwakeKeeper(const AwakeKeeper&) = delete;
  AwakeKeeper& operator=(const AwakeKeeper&) = delete;

  void StreamStarted();
  void StreamEnded();
  void Poll();
  bool Held() const;

 private:
  power::SleepBlocker& blocker_;
  std::function<AwakeClock::time_point()> now_;
  mutable std::mutex mutex_;
  int streams_ = 0;  // being sent now
  bool held_ = false;
  AwakeClock::time_point lastEnded_{};  // of the last stream, while streams_ == 0
};

}  // namespace tovi::app

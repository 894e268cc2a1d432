// Keeps the PC from going to sleep while held: Windows through the thread execution state
// (system required; the display may still turn off), Linux through a logind sleep inhibitor where
// logind runs (nothing where it does not). The hold ends with the process however it ends.
// Thread safety: Hold and Release may be called from any thread, one at a time (the caller
// serialises them); both are cheap when the state does not change.
#pragma once
#include <memory>

namespace tovi::power {

class SleepBlocker {
 public:
  virtual ~SleepBlocker() = default;
  virtual void Hold() = 0;     // the PC stays awake from now on
  virtual void Release() = 0;  // the PC may sleep again
};

// The system's blocker. Never throws: a system that cannot keep the PC awake gets a blocker that
// does nothing.
std::unique_ptr<SleepBlocker> CreateSystemSleepBlocker();

}  // namespace tovi::power

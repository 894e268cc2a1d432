// The Linux sleep blocker's workings (posix implementation only; tests reach them here): a hold
// is a child process that holds a logind sleep inhibitor for as long as its standard input stays
// open. The pipe's other end is ours alone, so the inhibitor ends when we release it and also
// when this process ends in any way (a crash closes the pipe as an Exit does).
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/power.h"

namespace tovi::power {

// How long Release waits for the child to end once its input is closed; then it is killed.
inline constexpr int kInhibitorExitWaitMs = 2000;

// argv runs for every hold (looked up on PATH); it must end when its standard input ends.
std::unique_ptr<SleepBlocker> CreateCommandSleepBlocker(std::vector<std::string> argv);

// logind's own command, "systemd-inhibit ... cat", or nothing where logind does not run.
std::vector<std::string> LogindInhibitorCommand();

}  // namespace tovi::power

// Starting a helper program the user never sees: its output goes to /dev/null, no signal of ours
// is blocked in it. POSIX build only.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace tovi::posix {

// Starts argv[0] (looked up in PATH) with standard input from inputFd (-1: /dev/null). With
// ownGroup, it runs in a process group of its own, so the terminal's Ctrl-C reaches only us.
// Returns its id, or -1 when it could not be started.
pid_t SpawnQuiet(const std::vector<std::string>& argv, int inputFd, bool ownGroup);

}  // namespace tovi::posix

// Work that runs on a thread of its own which nobody joins: for waits a caller may give up on,
// such as a name lookup the system's resolver cannot cut short. The thread owns the work (and
// whatever the work holds) and ends when the work returns.
// On Windows the threads library behind std::thread can lose a thread that is detached before
// it has begun to run (it then never runs), so there the thread is started with the system's
// own call instead.
// Thread safety: any thread, any number at once.
#pragma once
#include <functional>

namespace tovi::process {

// Starts work on a new thread and returns at once; false when no thread could be started (work
// is then dropped unrun). work must not throw.
bool StartDetachedThread(std::function<void()> work);

}  // namespace tovi::process

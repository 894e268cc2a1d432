// Process-wide settings the program makes once, at start, before any window or file access, and
// the process's memory.
#pragma once

namespace tovi::process {

// Windows: a drive without a medium (an empty card reader or DVD drive that a TV asks for)
// fails the call instead of raising a "No disk" box that blocks the caller until someone
// clicks it. POSIX has no such boxes: nothing to do.
void SuppressCriticalErrorBoxes();

// POSIX: standard input, output or error closed by whoever started the program (`<&-`, a
// service manager's leftovers) is opened on /dev/null, so that no descriptor the program opens
// later takes its number: the terminal would read the stop signal's wake and print into a
// socket or the lock file. Windows: nothing to do.
void OpenMissingStandardStreams();

// POSIX: lifts the soft limit of open files to the hard one (as far as the system lets it), so
// that the server's bounds of connections follow what the system allows, not a low default.
// Windows sets no such limit on sockets and file handles: nothing to do.
void RaiseOpenFileLimit();

// Hands memory the allocator keeps free back to the system, after large buffers were freed.
void ReturnFreeMemory();

}  // namespace tovi::process

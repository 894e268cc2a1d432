// Process-wide settings the program makes once, at start, before any window or file access.
#pragma once

namespace tovi::process {

// Windows: a drive without a medium (an empty card reader or DVD drive that a TV asks for)
// fails the call instead of raising a "No disk" box that blocks the caller until someone
// clicks it. POSIX has no such boxes: nothing to do.
void SuppressCriticalErrorBoxes();

}  // namespace tovi::process

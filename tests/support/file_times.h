// Sets when a file or folder was last written, as a test needs it for ordering by date (the
// standard library cannot set a folder's time on Windows). Throws std::runtime_error when the
// time cannot be set.
#pragma once
#include <string>

namespace tovi::testing {

// The UTF-8 path's modification time becomes `minutes` minutes before now.
void SetModifiedMinutesAgo(const std::string& path, int minutes);

}  // namespace tovi::testing

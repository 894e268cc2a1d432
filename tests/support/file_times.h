// Sets when a file or folder was last written, as a test needs it for ordering by date (the
// standard library cannot set a folder's time on Windows, nor a time past 2262 on POSIX).
// Throws std::runtime_error when the time cannot be set.
#pragma once
#include <cstdint>
#include <string>

namespace tovi::testing {

// The UTF-8 path's modification time becomes unixSeconds (seconds since 1970, UTC).
void SetModifiedAt(const std::string& path, std::int64_t unixSeconds);

// The UTF-8 path's modification time becomes `minutes` minutes before now.
void SetModifiedMinutesAgo(const std::string& path, int minutes);

}  // namespace tovi::testing

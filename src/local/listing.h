// The PC's drives and a folder's entries, as the "/treeview" playlists and the media-server
// side's content tree both list them. The drive list is read at most once per
// kDriveListFreshMs; a folder is read anew on every call.
// Thread safety: any function from any thread; DriveList is locked inside.
#pragma once
#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tovi::local {

// How long a drive list read serves: every Browse and every resource request checks its path
// against the drives, and a player asks many at once; a drive plugged in shows this much later.
inline constexpr int kDriveListFreshMs = 2000;

// A drive list read at most once per interval: callers within it get the list read last, and a
// caller that comes while it is read waits for that reading rather than reading again.
class DriveList {
 public:
  using Clock = std::chrono::steady_clock;
  DriveList(std::function<std::vector<std::string>()> read, std::chrono::milliseconds fresh,
            std::function<Clock::time_point()> now = Clock::now);
  std::vector<std::string> Roots();

 private:
  const std::function<std::vector<std::string>()> read_;
  const std::chrono::milliseconds fresh_;
  const std::function<Clock::time_point()> now_;
  std::mutex lock_;
  bool everRead_ = false;
  Clock::time_point readAt_;
  std::vector<std::string> roots_;
};

// Roots a user would browse (platform order), each ending with its separator; read at most once
// per kDriveListFreshMs.
std::vector<std::string> ListDrives();

// Paths of the folder's entries in file-system order (UTF-8, as the folder is): folders end
// with the separator; hidden and system entries, ".", ".." and the recycle bin are left out. A
// folder that cannot be read gives an empty list. A folder made of "/" only is the root "/".
// At most maxEntries of the folder's entries are read.
std::vector<std::string> ListFolder(std::string folder, char separator,
                                    std::size_t maxEntries = static_cast<std::size_t>(-1));

}  // namespace tovi::local

#include "local/listing.h"

#include <utility>

#include "platform/files.h"

namespace tovi::local {

DriveList::DriveList(std::function<std::vector<std::string>()> read,
                     std::chrono::milliseconds fresh, std::function<Clock::time_point()> now)
    : read_(std::move(read)), fresh_(fresh), now_(std::move(now)) {}

std::vector<std::string> DriveList::Roots() {
  std::lock_guard<std::mutex> lock(lock_);
  const Clock::time_point now = now_();
  if (!everRead_ || now - readAt_ >= fresh_) {
    roots_ = read_();
    readAt_ = now;
    everRead_ = true;
  }
  return roots_;
}

std::vector<std::string> ListDrives() {
  static DriveList drives(fs::DriveRoots, std::chrono::milliseconds(kDriveListFreshMs));
  return drives.Roots();
}

std::vector<std::string> ListFolder(std::string folder, char separator, std::size_t maxEntries) {
  if (separator == '/' && !folder.empty() && folder.find_first_not_of('/') == std::string::npos) {
    folder = "/";
  }
  if (folder.empty() || folder.back() != separator) folder += separator;
  std::vector<std::string> items;
  const auto entries =
      fs::FindEntries(folder, "*.*", fs::kAttrReadOnly | fs::kAttrDirectory | fs::kAttrArchive,
                      maxEntries);
  items.reserve(entries.size());
  for (const fs::DirEntry& entry : entries) {
    if (entry.IsDirectory()) {
      const std::string& n = entry.name;
      if (n == "." || n == ".." || n == "$Recycle.Bin" || n == "$RECYCLE.BIN" || n == "Thumbs.db") {
        continue;
      }
      items.push_back(folder + n + separator);
    } else {
      items.push_back(folder + entry.name);
    }
  }
  return items;
}

}  // namespace tovi::local

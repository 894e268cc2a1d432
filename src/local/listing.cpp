#include "local/listing.h"

#include "platform/files.h"

namespace tovi::local {

std::vector<std::string> ListDrives() { return fs::DriveRoots(); }

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

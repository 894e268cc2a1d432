#include "dlna/bookmarks.h"

#include <algorithm>

namespace tovi::dlna {

void Bookmarks::Set(std::string_view objectId, std::uint32_t seconds) {
  if (objectId.size() > kMaxBookmarkIdBytes) return;
  std::lock_guard<std::mutex> lock(lock_);
  std::erase_if(marks_, [&](const Mark& m) { return m.objectId == objectId; });
  if (seconds == 0) return;
  if (marks_.size() >= kBookmarksKept) marks_.erase(marks_.begin());
  marks_.push_back(Mark{std::string(objectId), seconds});
}

std::optional<std::uint32_t> Bookmarks::Of(std::string_view objectId) const {
  std::lock_guard<std::mutex> lock(lock_);
  const auto found = std::find_if(marks_.begin(), marks_.end(),
                                  [&](const Mark& m) { return m.objectId == objectId; });
  if (found == marks_.end()) return std::nullopt;
  return found->seconds;
}

}  // namespace tovi::dlna

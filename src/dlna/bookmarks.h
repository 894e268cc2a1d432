// Where players stopped in a film ("continue watching"): the position a player set for an
// object id with X_SetBookmark, kept while the program runs and given back in that item's
// listing. Bounded: kBookmarksKept positions of ids up to kMaxBookmarkIdBytes; when full the
// position set longest ago gives way. A position of 0 (watched from the start, or to the end
// and rewound) forgets the id.
// Thread safety: every member may be called from several connection threads at once.
#pragma once
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::dlna {

// A household's films in progress, with room; each costs its id and a few bytes.
inline constexpr std::size_t kBookmarksKept = 512;
// Our ids are paths encoded; a longer one names nothing we list and is not kept.
inline constexpr std::size_t kMaxBookmarkIdBytes = 4096;

class Bookmarks {
 public:
  void Set(std::string_view objectId, std::uint32_t seconds);
  std::optional<std::uint32_t> Of(std::string_view objectId) const;

 private:
  struct Mark {
    std::string objectId;
    std::uint32_t seconds;
  };
  mutable std::mutex lock_;
  std::vector<Mark> marks_;  // the oldest set first
};

}  // namespace tovi::dlna

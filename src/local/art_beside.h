// Posters found beside the files: a folder's "folder.jpg", "cover.jpg" or "poster.jpg" (any
// case, in that preference) stands for the folder and for its videos and music without one of
// their own; a video's "<stem>.jpg" (the extension in any case, the stem as the file system
// compares names: fs::NameKey) is its own. All of it is found in a folder's listing, with no
// query of the disk per file; a folder without one is asked once for the hidden "Folder.jpg"
// Windows Media Player writes beside an album.
// Pure but FolderArtOf, ListingArt's constructor and ArtOfItem (which ask the disk); safe from any
// thread.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "local/media_types.h"

namespace tovi::local {

// The pictures that stand for a file or folder; a cover served from inside a file is named so too.
inline constexpr std::string_view kArtExtension = "jpg";

// The poster among a folder's listing (paths as ListFolder gives them), or "".
std::string FolderArtIn(const std::vector<std::string>& listing);
// The same, else the hidden "Folder.jpg" Windows Media Player writes beside an album (which the
// listing leaves out), looked for on the disk; folder ends with its separator.
std::string FolderArtOf(const std::string& folder, const std::vector<std::string>& listing);

// The posters of one folder's items, from its listing (and FolderArtOf's one query).
class ListingArt {
 public:
  ListingArt(const std::string& folder, const std::vector<std::string>& listing);
  // The poster of the item at path: a video's own, else the folder's for videos and music, ""
  // for pictures and items without one.
  std::string For(const std::string& path, MediaKind kind) const;

 private:
  std::string folderArt_;
  // fs::NameKey("<folder>/name") -> its .jpg
  std::unordered_map<std::string, std::string> pictureByStem_;
};

// The poster of the item at path when its folder's listing is not at hand: reads the listing.
std::string ArtOfItem(const std::string& path, MediaKind kind, char separator);

}  // namespace tovi::local

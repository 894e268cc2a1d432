#include "local/art_beside.h"

#include <array>

#include "local/listing.h"
#include "local/paths.h"
#include "platform/ascii.h"
#include "platform/files.h"

namespace tovi::local {

namespace {

// In the order a folder's poster is chosen when it holds several.
constexpr std::array<std::string_view, 3> kFolderArtNames{"folder.jpg", "cover.jpg", "poster.jpg"};
// The album's picture as Windows Media Player keeps it: hidden and system, so the listing leaves
// it out. Asked for by name (a query of the disk per folder without a poster, none per file).
constexpr std::string_view kHiddenFolderArtName = "Folder.jpg";

}  // namespace

std::string FolderArtIn(const std::vector<std::string>& listing) {
  for (std::string_view wanted : kFolderArtNames) {
    for (const std::string& path : listing) {
      // The lengths are compared first: a large folder's names are rarely of the length of any of
      // these.
      if (text::SameAsciiText(FileNameOf(path), wanted) && !IsFolderPath(path)) {
        return path;
      }
    }
  }
  return std::string();
}

std::string FolderArtOf(const std::string& folder, const std::vector<std::string>& listing) {
  std::string found = FolderArtIn(listing);
  if (found.empty() && fs::FileExists(folder + std::string(kHiddenFolderArtName))) {
    found = folder + std::string(kHiddenFolderArtName);
  }
  return found;
}

ListingArt::ListingArt(const std::string& folder, const std::vector<std::string>& listing)
    : folderArt_(FolderArtOf(folder, listing)) {
  for (const std::string& path : listing) {
    if (!IsFolderPath(path) && ExtensionOf(path) == kArtExtension) {
      pictureByStem_.emplace(fs::NameKey(StemOf(path)), path);
    }
  }
}

std::string ListingArt::For(const std::string& path, MediaKind kind) const {
  if (kind == MediaKind::Image) return std::string();
  if (kind == MediaKind::Video) {
    const auto own = pictureByStem_.find(fs::NameKey(StemOf(path)));
    if (own != pictureByStem_.end()) return own->second;
  }
  return folderArt_;
}

std::string ArtOfItem(const std::string& path, MediaKind kind, char separator) {
  const std::size_t slash = path.rfind(separator);
  if (slash == std::string::npos) return std::string();
  const std::string folder = path.substr(0, slash + 1);
  return ListingArt(folder, ListFolder(folder, separator)).For(path, kind);
}

}  // namespace tovi::local

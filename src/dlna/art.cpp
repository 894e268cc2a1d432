#include "dlna/art.h"

#include <array>

#include "dlna/device.h"
#include "dlna/media_types.h"
#include "http/header_list.h"
#include "platform/files.h"
#include "server/playlists.h"

namespace tovi::dlna {

namespace {

// In the order a folder's poster is chosen when it holds several.
constexpr std::array<std::string_view, 3> kFolderArtNames{"folder.jpg", "cover.jpg", "poster.jpg"};
constexpr std::string_view kArtExtension = "jpg";

bool IsFolderPath(std::string_view path) {
  return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

}  // namespace

std::string FolderArtIn(const std::vector<std::string>& listing) {
  for (std::string_view wanted : kFolderArtNames) {
    for (const std::string& path : listing) {
      const std::string_view name = FileNameOf(path);
      // Lengths first: a large folder's names are rarely of the length of any of these.
      if (name.size() == wanted.size() && !IsFolderPath(path) &&
          http::SameText(std::string(name), std::string(wanted))) {
        return path;
      }
    }
  }
  return std::string();
}

ListingArt::ListingArt(const std::vector<std::string>& listing) : folderArt_(FolderArtIn(listing)) {
  for (const std::string& path : listing) {
    if (!IsFolderPath(path) && ExtensionOf(path) == kArtExtension) {
      pictureByStem_.emplace(std::string(StemOf(path)), path);
    }
  }
}

std::string ListingArt::For(const std::string& path, MediaKind kind) const {
  if (kind == MediaKind::Image) return std::string();
  if (kind == MediaKind::Video) {
    const auto own = pictureByStem_.find(std::string(StemOf(path)));
    if (own != pictureByStem_.end()) return own->second;
  }
  return folderArt_;
}

std::string ArtOfItem(const std::string& path, MediaKind kind, char separator) {
  const std::size_t slash = path.rfind(separator);
  if (slash == std::string::npos) return std::string();
  return ListingArt(server::ListFolder(path.substr(0, slash + 1), separator)).For(path, kind);
}

std::string CoverUrl(std::string_view baseUrl, std::string_view path) {
  std::string query = kArtQueryPrefix;
  query += ObjectIdOfPath(path);
  query += '.';
  query += kArtExtension;
  return std::string(baseUrl) + UrlTarget(query);
}

std::optional<std::string> CoverPathOf(std::string_view query, const PathRules& rules) {
  const std::string_view prefix = kArtQueryPrefix;
  if (query.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string_view name = query.substr(prefix.size());
  const std::string suffix = "." + std::string(kArtExtension);
  if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix) return "";
  const std::optional<std::string> path = PathOfObjectId(name.substr(0, name.size() - suffix.size()), rules);
  if (!path || IsFolderPath(*path) || !MediaTypeOfName(*path)) return "";
  return path;
}

void StreamCover(http::TNetPeerThread& thread, const std::string& path,
                 const media::MediaFacts& facts, http::TNetHTTPRequestInfo& request,
                 http::TNetHTTPResponseInfo& response, server::StreamOptions options) {
  const std::optional<fs::FileStamp> stamp = fs::StampOf(path);
  if (!facts.coverOffset || !facts.coverLength || *facts.coverLength == 0 || !stamp ||
      *facts.coverOffset > static_cast<std::uint64_t>(stamp->size) ||
      *facts.coverLength > static_cast<std::uint64_t>(stamp->size) - *facts.coverOffset) {
    response.SetResponseCode(404);
    response.SetBodyText("Not Found");
    return;
  }
  options.contentType = facts.coverMime.empty() ? "image/jpeg" : facts.coverMime;
  options.partFirst = *facts.coverOffset;
  options.partLength = *facts.coverLength;
  server::StreamLocalFile(thread, path, request, response, options);
}

}  // namespace tovi::dlna

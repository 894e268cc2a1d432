// Posters of the tree: a folder's "folder.jpg", "cover.jpg" or "poster.jpg" (any case, in that
// preference) stands for the folder and for its videos and music without one of their own; a
// video's "<stem>.jpg" (any case) is its own; an MP3's embedded front cover is served from its
// place in the file at "/?dlna/art/<id>.jpg" (the URL ends in ".jpg" whatever the picture is,
// since some TVs show no art from other URLs; the answer carries the picture's media type).
// All of it is found in a folder's listing, with no query of the disk per file.
// Pure but StreamCover (which reads the file); safe from any thread.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dlna/media_types.h"
#include "dlna/object_ids.h"
#include "http/server/http_server.h"
#include "media/facts.h"
#include "server/file_stream.h"

namespace tovi::dlna {

// The poster among a folder's listing (paths as server::ListFolder gives them), or "".
std::string FolderArtIn(const std::vector<std::string>& listing);

// The posters of one folder's items, from its listing.
class ListingArt {
 public:
  explicit ListingArt(const std::vector<std::string>& listing);
  // The poster of the item at path: a video's own, else the folder's for videos and music, ""
  // for pictures and items without one.
  std::string For(const std::string& path, MediaKind kind) const;

 private:
  std::string folderArt_;
  std::unordered_map<std::string, std::string> pictureByStem_;  // "<folder>/name" -> its .jpg
};

// The poster of the item at path when its folder's listing is not at hand: reads the listing.
std::string ArtOfItem(const std::string& path, MediaKind kind, char separator);

// "<base>/?dlna/art/<id of path>.jpg".
std::string CoverUrl(std::string_view baseUrl, std::string_view path);

// The file whose cover a query names, when the query is one of the covers' (nothing when not,
// "" when it names no file the tree may show).
std::optional<std::string> CoverPathOf(std::string_view query, const PathRules& rules);

// The cover as the whole answer (GET, HEAD, ranges within it) with its own media type, or 404
// when the facts hold none inside the file.
void StreamCover(http::TNetPeerThread& thread, const std::string& path,
                 const media::MediaFacts& facts, http::TNetHTTPRequestInfo& request,
                 http::TNetHTTPResponseInfo& response, server::StreamOptions options);

}  // namespace tovi::dlna

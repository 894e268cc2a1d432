// Posters of the tree: those beside the files are found as local/art_beside.h says; an MP3's
// embedded front cover is served from its place in the file at "/?dlna/art/<id>.jpg" (the URL
// ends in ".jpg" whatever the picture is, since some TVs show no art from other URLs; the answer
// carries the picture's media type, and the DLNA headers a poster's answer has).
// Pure but StreamCover (which reads the file); safe from any thread.
#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "dlna/media_types.h"
#include "dlna/object_ids.h"
#include "http/server/http_server.h"
#include "local/art_beside.h"
#include "media/facts.h"
#include "server/file_stream.h"

namespace tovi::dlna {

using local::ArtOfItem;
using local::FolderArtIn;
using local::FolderArtOf;
using local::ListingArt;

// "<base>/?dlna/art/<id of path>.jpg".
std::string CoverUrl(std::string_view baseUrl, std::string_view path);

// The file whose cover a query names, when the query is one of the covers' (nothing when not,
// "" when it names no file the tree may show).
std::optional<std::string> CoverPathOf(std::string_view query, const PathRules& rules);

// The cover as the whole answer (GET, HEAD, ranges within it) with its own media type, or 404
// when the facts hold none inside the file.
void StreamCover(http::TNetTCPServerConnection& connection, const std::string& path,
                 const media::MediaFacts& facts, http::TNetHTTPRequestInfo& request,
                 http::TNetHTTPResponseInfo& response, server::StreamOptions options);

}  // namespace tovi::dlna

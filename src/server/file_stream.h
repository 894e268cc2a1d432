// Streams one local file, or bytes held in memory, as the answer to a request: GET, POST and
// HEAD, RFC 7233 byte ranges (200, 206 with Content-Range, 416 with "bytes */size"), sizes and
// offsets past 4 GiB, the connection closed after the body. Both the app's file URLs and the
// media-server side's resource URLs answer through it, so that they stream alike; only the media
// type, the extra header lines and, for a text converted for a player, the bytes differ.
// Errors: throws std::runtime_error "Operation aborted" (the engine's 500 answer) for a file that
// cannot be opened or whose size cannot be read, before anything is sent.
// Thread safety: one call per request, on its connection thread; calls are independent.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/server/http_server.h"
#include "server/stream_activity.h"

namespace tovi::server {

// What the app's file URLs have always answered with, whatever the file holds: the TV app
// expects it.
inline constexpr const char* kStreamContentType = "video/mp4";

struct StreamOptions {
  std::string contentType = kStreamContentType;
  // Header lines after Accept-Ranges and Content-Range, in this order, never folded.
  std::vector<std::pair<std::string, std::string>> extraHeaders;
  // Told of a body's start and end (none for a HEAD or a 416, which send no bytes); may be null.
  StreamActivity* activity = nullptr;
  // A part of the file answered as if it were the whole (a picture inside a song): its first
  // byte and its length, which must lie inside the file ("Operation aborted" when not).
  std::uint64_t partFirst = 0;
  std::optional<std::uint64_t> partLength;
};

// The custom header lines the response held before are dropped: a file's answer has its own.
void StreamLocalFile(http::TNetTCPServerConnection& connection, const std::string& path,
                     http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response,
                     const StreamOptions& options);

// The answer to a request that names no file there is to send: 404 with "Not Found" as its body.
void AnswerNotFound(http::TNetHTTPResponseInfo& response);

// The same answer with bytes as the body (ranges, HEAD and the notices alike); never throws for
// the bytes' sake.
void StreamBytes(http::TNetTCPServerConnection& connection, std::string_view bytes,
                 http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response,
                 const StreamOptions& options);

}  // namespace tovi::server

#include "dlna/subtitles.h"

#include <optional>

#include "dlna/subtitle_text.h"
#include "platform/files.h"
#include "platform/legacy_text.h"

namespace tovi::dlna {

namespace {

// The file's bytes when it holds at most maxBytes and can be read; else nullopt.
std::optional<std::string> ReadUpTo(const std::string& path, std::uint64_t maxBytes) {
  try {
    const fs::ReadOnlyFile file(path);
    std::string bytes(maxBytes + 1, '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
      const long n = file.ReadAt(got, bytes.data() + got, bytes.size() - got);
      if (n < 0) return std::nullopt;
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got > maxBytes) return std::nullopt;
    bytes.resize(got);
    return bytes;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// The room a conversion of size bytes holds: the file's bytes, then its text in UTF-8 (an 8-bit
// byte or a UTF-16 unit makes at most 3 bytes), and a BOM.
std::int64_t ConversionRoom(std::int64_t size) {
  return 4 * size + static_cast<std::int64_t>(kUtf8Bom.size());
}

}  // namespace

SubtitleServer::SubtitleServer(SubtitleServingLimits limits)
    : limits_(limits), room_(limits.maxHeldBytes, 0) {}

void SubtitleServer::Stream(http::TNetTCPServerConnection& connection, const std::string& path,
                            http::TNetHTTPRequestInfo& request,
                            http::TNetHTTPResponseInfo& response,
                            const server::StreamOptions& options, bool withBom) {
  const std::int64_t size = fs::FileSize(path);
  if (size < 0 || static_cast<std::uint64_t>(size) > kMaxConvertedSubtitleBytes) {
    return server::StreamLocalFile(connection, path, request, response, options);
  }
  const server::SharedRoom::Held room =
      room_.Take(request.RemoteAddress(), ConversionRoom(size), limits_.roomWaitMs,
                 [&connection] { return connection.Aborted(); });
  std::optional<std::string> text;
  if (room) {
    // Read to at most the size the room was taken for: a file that grew since goes as it is.
    const std::optional<std::string> bytes = ReadUpTo(path, static_cast<std::uint64_t>(size));
    if (bytes) text = SubtitleTextAsUtf8(*bytes, withBom, text::LegacyTextToUtf8);
  }
  if (!text) return server::StreamLocalFile(connection, path, request, response, options);
  server::StreamBytes(connection, *text, request, response, options);
}

}  // namespace tovi::dlna

#include "dlna/art.h"

#include "dlna/device.h"
#include "dlna/media_types.h"
#include "platform/files.h"

namespace tovi::dlna {

std::string CoverUrl(std::string_view baseUrl, std::string_view path) {
  std::string query = kArtQueryPrefix;
  query += ObjectIdOfPath(path);
  query += '.';
  query += local::kArtExtension;
  return std::string(baseUrl) + UrlTarget(query);
}

std::optional<std::string> CoverPathOf(std::string_view query, const PathRules& rules) {
  const std::string_view prefix = kArtQueryPrefix;
  if (query.substr(0, prefix.size()) != prefix) return std::nullopt;
  const std::string_view name = query.substr(prefix.size());
  std::string suffix(1, '.');
  suffix += local::kArtExtension;
  if (name.size() <= suffix.size() || name.substr(name.size() - suffix.size()) != suffix) return "";
  const std::optional<std::string> path =
      PathOfObjectId(name.substr(0, name.size() - suffix.size()), rules);
  if (!path || local::IsFolderPath(*path) || !MediaTypeOfName(*path)) return "";
  return path;
}

void StreamCover(http::TNetTCPServerConnection& connection, const std::string& path,
                 const media::MediaFacts& facts, http::TNetHTTPRequestInfo& request,
                 http::TNetHTTPResponseInfo& response, server::StreamOptions options) {
  const std::optional<fs::FileStamp> stamp = fs::StampOf(path);
  if (!facts.coverOffset || !facts.coverLength || *facts.coverLength == 0 || !stamp ||
      *facts.coverOffset > static_cast<std::uint64_t>(stamp->size) ||
      *facts.coverLength > static_cast<std::uint64_t>(stamp->size) - *facts.coverOffset) {
    return server::AnswerNotFound(response);
  }
  options.contentType = facts.coverMime.empty() ? "image/jpeg" : facts.coverMime;
  options.partFirst = *facts.coverOffset;
  options.partLength = *facts.coverLength;
  server::StreamLocalFile(connection, path, request, response, options);
}

}  // namespace tovi::dlna

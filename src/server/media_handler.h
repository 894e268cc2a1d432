// The media server's request handler: streams local files (RFC 7233 ranges, HEAD), answers
// "/treeview" playlists, "/test" announcements, "/parserlink" page cuts and 404 for the rest.
// It reaches the main window only through MediaHost. CreateMediaServer builds the server the
// switch turns on: one binding, address:kMediaPort, this handler for GET, POST and HEAD, threads
// kept for the next connection and idle connections holding none (TNetThreadMgrPool).
// Thread safety: Handle runs on connection threads, several at once; it keeps no state of its own.
#pragma once
#include <memory>
#include <string>

#include "http/server/http_server.h"
#include "server/link_extraction.h"
#include "server/media_host.h"
#include "server/texts.h"

namespace tovi::server {

inline constexpr const char* kTestPage = "<html><h1>ToviPlayer DLNA Work!</h1></html>";
inline constexpr const char* kStreamContentType = "video/mp4";
// The media server's listen backlog: a TV opens connections in bursts, and a full backlog drops
// them for a second-long retry (the engine's default, 15, is for quieter servers).
inline constexpr int kMediaListenQueue = 511;

struct MediaHandlerOptions {
  PathStyle pathStyle = PathStyle::Posix;
  char separator = '/';
  std::string decimalSeparator = ".";  // of the size labels
  PageFetchLimits pageLimits;   // of the "/parserlink" fetch
};

// The options of the platform the program runs on.
MediaHandlerOptions PlatformMediaOptions();

class MediaRequestHandler {
 public:
  explicit MediaRequestHandler(MediaHost& host, MediaHandlerOptions options = PlatformMediaOptions())
      : host_(host), options_(options), pageSlots_(options.pageLimits.maxPagesAtOnce) {}

  // Exceptions leave it for the engine's 500 answer: "Operation aborted" for a file that exists
  // but cannot be opened, "List index out of bounds (0)" for a playlist or link without a query.
  void Handle(http::TNetPeerThread& thread, http::TNetHTTPRequestInfo& request,
              http::TNetHTTPResponseInfo& response);

 private:
  void StreamFile(http::TNetPeerThread& thread, const std::string& path,
                  http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response);
  void AnswerTreeview(http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response);
  void AnswerParserLink(http::TNetPeerThread& thread, http::TNetHTTPRequestInfo& request,
                        http::TNetHTTPResponseInfo& response);
  void AnswerTest(http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response);
  // Nothing from the network reaches the file system unless it stays on the local drives.
  bool IsLocalFile(const std::string& path) const;

  MediaHost& host_;
  MediaHandlerOptions options_;
  PageSlots pageSlots_;
};

// A server with one binding at address and port (kMediaPort in the program; "" = all addresses),
// calling handler for every request. Not yet active; shared, as the engine needs to switch on.
std::shared_ptr<http::TNetHTTPServer> CreateMediaServer(
    const std::string& address, int port, http::TNetCustomHTTPServer::TNetHTTPCommandEvent handler);

}  // namespace tovi::server

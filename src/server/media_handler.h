// The media server's request handler: streams local files (RFC 7233 ranges, HEAD), answers
// "/treeview" playlists, "/test" announcements, "/parserlink" page cuts and 404 for the rest.
// It reaches the main window only through MediaHost. CreateMediaServer builds the server the
// switch turns on: one binding, address:kMediaPort, this handler for GET, POST and HEAD, threads
// kept for the next connection and idle connections holding none (TNetThreadMgrPool).
// Thread safety: Handle runs on connection threads, several at once; its only state, the page
// slots and the answer room (each peer address with a share of them), is locked.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "http/server/http_server.h"
#include "local/paths.h"
#include "server/file_stream.h"
#include "server/link_extraction.h"
#include "server/media_host.h"

namespace tovi::server {

inline constexpr const char* kTestPage = "<html><h1>ToviPlayer DLNA Work!</h1></html>";
// The media server's listen backlog: a TV opens connections in bursts, and a full backlog drops
// them for a second-long retry (the engine's default, 15, is for quieter servers).
inline constexpr int kMediaListenQueue = 511;

struct MediaHandlerOptions {
  local::PathStyle pathStyle = local::PathStyle::Posix;
  char separator = '/';
  std::string decimalSeparator = ".";  // of the size labels
  PageFetchLimits pageLimits;   // of the "/parserlink" fetch
  // What all "/parserlink" answers being sent may hold together, once their page slots are
  // free: as much as the slots' pages (4 x 32 MiB).
  std::int64_t maxAnswerBytesAtOnce = 128ll << 20;
  // Of that, what the answers to one peer address may hold: a quarter (a whole page), as its
  // share of the served turns, so that readers of one device that never read hold none of the
  // room of the others' answers.
  std::int64_t maxAnswerBytesPerPeer = 32ll << 20;
  // How long a cut answer waits for room within its peer's share, its page slot held meanwhile;
  // then it is "err". So a slot is held for the fetch, the cut and at most this long, never at a
  // reader's pace.
  int answerRoomWaitMs = 10000;
};

// The options of the platform the program runs on.
MediaHandlerOptions PlatformMediaOptions();

class MediaRequestHandler {
 public:
  // streams: told of each file's bytes going out (may be null).
  explicit MediaRequestHandler(MediaHost& host, MediaHandlerOptions options = PlatformMediaOptions(),
                               StreamActivity* streams = nullptr)
      : host_(host),
        streams_(streams),
        options_(options),
        pageSlots_(options.pageLimits.maxPagesAtOnce, options.pageLimits.maxPagesPerPeer),
        answerRoom_(options.maxAnswerBytesAtOnce, options.maxAnswerBytesPerPeer) {}

  // Exceptions leave it for the engine's 500 answer: "Operation aborted" for a file that exists
  // but cannot be opened, "List index out of bounds (0)" for a playlist or link without a query.
  void Handle(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
              http::TNetHTTPResponseInfo& response);

 private:
  void StreamFile(http::TNetTCPServerConnection& connection, const std::string& path,
                  http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response);
  void AnswerTreeview(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
                      http::TNetHTTPResponseInfo& response);
  void AnswerParserLink(http::TNetTCPServerConnection& connection, http::TNetHTTPRequestInfo& request,
                        http::TNetHTTPResponseInfo& response);
  void AnswerTest(http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response);
  // Nothing from the network reaches the file system unless it stays on the local drives.
  bool IsLocalFile(const std::string& path) const;

  MediaHost& host_;
  StreamActivity* streams_;
  MediaHandlerOptions options_;
  SharedRoom pageSlots_;   // one each
  SharedRoom answerRoom_;  // their bytes
};

// A server with one binding at address and port (kMediaPort in the program; "" = all addresses),
// calling handler for every request. Not yet active; shared, as the engine needs to switch on.
std::shared_ptr<http::TNetHTTPServer> CreateMediaServer(
    const std::string& address, int port, http::TNetCustomHTTPServer::TNetHTTPCommandEvent handler);

}  // namespace tovi::server

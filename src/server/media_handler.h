// The media server's request handler: streams local files (RFC 7233 ranges, HEAD), answers
// "/treeview" playlists, "/test" announcements, "/parserlink" page cuts and 404 for the rest.
// It reaches the main window only through MediaHost. CreateMediaServer builds the server the
// switch turns on: one binding, address:kMediaPort, this handler for GET, POST and HEAD, threads
// kept for the next connection and idle connections holding none (TNetThreadMgrPool).
// Thread safety: Handle runs on connection threads, several at once; its only state, the page
// slots and the answer room, is locked.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "http/server/http_server.h"
#include "server/file_stream.h"
#include "server/link_extraction.h"
#include "server/media_host.h"
#include "server/texts.h"

namespace tovi::server {

inline constexpr const char* kTestPage = "<html><h1>ToviPlayer DLNA Work!</h1></html>";
// The media server's listen backlog: a TV opens connections in bursts, and a full backlog drops
// them for a second-long retry (the engine's default, 15, is for quieter servers).
inline constexpr int kMediaListenQueue = 511;

struct MediaHandlerOptions {
  PathStyle pathStyle = PathStyle::Posix;
  char separator = '/';
  std::string decimalSeparator = ".";  // of the size labels
  PageFetchLimits pageLimits;   // of the "/parserlink" fetch
  // What all "/parserlink" answers being sent may hold together, once their page slots are
  // free: as much as the slots' pages (4 x 32 MiB).
  std::int64_t maxAnswerBytesAtOnce = 128ll << 20;
  // How long a cut answer waits for room, its page slot held meanwhile; then it is "err". So a
  // slot is held for the fetch, the cut and at most this long, never at a reader's pace.
  int answerRoomWaitMs = 10000;
};

// Counts the bytes of answers held until they are sent (or their reader is gone). Locked.
class AnswerRoom {
 public:
  // Room for bytes while it lives (empty: there was none).
  class Share {
   public:
    Share() = default;
    Share(AnswerRoom* owner, std::int64_t bytes) : owner_(owner), bytes_(bytes) {}
    Share(Share&& other) noexcept
        : owner_(std::exchange(other.owner_, nullptr)), bytes_(other.bytes_) {}
    Share& operator=(Share&&) = delete;
    ~Share() {
      if (owner_) owner_->Give(bytes_);
    }
    explicit operator bool() const { return owner_ != nullptr; }

   private:
    AnswerRoom* owner_ = nullptr;
    std::int64_t bytes_ = 0;
  };

  explicit AnswerRoom(std::int64_t bytes) : free_(bytes) {}
  // Waits up to waitMs for the room (in slices, so that abandoned is noticed); empty when it
  // stayed taken or nobody waits for the answer any more.
  Share Take(std::int64_t bytes, int waitMs, const Abandoned& abandoned);

 private:
  void Give(std::int64_t bytes);

  std::mutex lock_;
  std::condition_variable given_;
  std::int64_t free_;
};

// The options of the platform the program runs on.
MediaHandlerOptions PlatformMediaOptions();

class MediaRequestHandler {
 public:
  explicit MediaRequestHandler(MediaHost& host, MediaHandlerOptions options = PlatformMediaOptions())
      : host_(host),
        options_(options),
        pageSlots_(options.pageLimits.maxPagesAtOnce),
        answerRoom_(options.maxAnswerBytesAtOnce) {}

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
  AnswerRoom answerRoom_;
};

// A server with one binding at address and port (kMediaPort in the program; "" = all addresses),
// calling handler for every request. Not yet active; shared, as the engine needs to switch on.
std::shared_ptr<http::TNetHTTPServer> CreateMediaServer(
    const std::string& address, int port, http::TNetCustomHTTPServer::TNetHTTPCommandEvent handler);

}  // namespace tovi::server

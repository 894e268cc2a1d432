// The HTTP server engine: TNetHTTPServer is a TNetTCPServer whose per-connection step
// (DoExecute) is a request loop. In each turn of a connection (peer_thread.h) the loop reads a
// request (TNetRequestReader, request_reader.h) into a TNetHTTPRequestInfo (http_request.h),
// calls OnCommandGet for GET, POST and HEAD (and the ExtraMethods set) with a fresh
// TNetHTTPResponseInfo (http_response.h), writes what the handler left in the response and then
// closes the connection, or reads the next request: with KeepAlive or a handler's
// SetCloseAfterResponse(false), when the request lets it (keep_alive.h). A handler may also
// write the response itself: SendHeaders, then the connection's writes (thread.Connection()),
// then EndConnection. A handler runs in the connection's turn and holds its thread until it returns
// (a file being streamed, to the last byte).
// An exception out of the handler becomes a 500 answer whose body is its message; once the
// handler's headers are on the wire, it only closes the connection (the peer sees a short body).
// Any other method goes to OnCommandOther with its request line alone (its header lines unread).
// Bodies: only POST bodies are read (into FormText, or OnCreatePostStream's stream). A body
// announced with GET or HEAD is never read: the request is answered and the connection closed
// after the answer, so its bytes are neither kept nor waited for.
// Limits (TNetServerLimits): a request head must be complete within 30 s, hold at most 100
// header lines and 64 KiB; a body at most 16 MiB, no 30 s pause and 60 s in all; all bodies
// held at once at most 64 MiB together; else the connection is closed without a response.
// Waiting idle: with a thread manager that lets connections wait so (the pool), a connection
// whose next request head, or POST body of known length, has not all arrived gives up its
// thread until the rest comes (request_reader.h); the next turn, on any thread, goes on.
// Thread safety: as TNetTCPServer; handlers of different connections run at the same time.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "http/server/http_request.h"
#include "http/server/http_response.h"
#include "http/server/request_scan.h"
#include "http/server/tcp_server.h"
#include "http/stream.h"

namespace tovi::http {

class TNetRequestReader;

class TNetCustomHTTPServer : public TNetTCPServer {
 public:
  using TNetHTTPCommandEvent =
      std::function<void(TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&)>;
  using TNetHTTPCommandOtherEvent = std::function<void(
      TNetPeerThread&, const std::string& command, const std::string& target,
      const std::string& version)>;
  using TNetHTTPCreatePostStreamEvent =
      std::function<void(TNetPeerThread&, std::unique_ptr<TStream>& stream)>;

  TNetCustomHTTPServer();

  bool KeepAlive() const { return keepConnectionsOpen_; }
  void SetKeepAlive(bool on) { keepConnectionsOpen_ = on; }
  bool ParseParams() const { return parseParams_; }
  void SetParseParams(bool on) { parseParams_ = on; }
  const std::string& ServerSoftware() const { return serverSoftware_; }
  void SetServerSoftware(const std::string& s) { serverSoftware_ = s; }
  // Methods besides GET, POST and HEAD (e.g. "SUBSCRIBE", any case) whose requests are read
  // with their header lines and handed to OnCommandGet as those are (their bodies are not
  // read, as a GET's); none by default. Set it before the server is switched on: connection
  // threads read it unlocked.
  const std::vector<std::string>& ExtraMethods() const { return extraMethods_; }
  void SetExtraMethods(std::vector<std::string> methods) {
    for (std::string& m : methods) m = UpperCase(std::move(m));
    extraMethods_ = std::move(methods);
  }
  // Bytes the request bodies being read now hold against maxBodyBytesHeld.
  std::int64_t BodyBytesHeld() const;

  TNetHTTPCommandEvent OnCommandGet;
  TNetHTTPCommandOtherEvent OnCommandOther;
  TNetHTTPCreatePostStreamEvent OnCreatePostStream;

 protected:
  bool DoExecute(TNetPeerThread& thread) override;
  void BeforeActivate() override;

 private:
  // One request; returns the close-after flag.
  bool ServeRequest(TNetPeerThread& thread, const TNetRequestReader& reader,
                    const std::string& line, const TNetRequestLine& parts);
  // The handler's turn and the response; returns the response's close-after flag. mayKeep:
  // whether the request lets its connection stay open (keep_alive.h, and no body left unread).
  bool Answer(TNetPeerThread& thread, TNetHTTPRequestInfo& request, bool mayKeep);
  // False when the handler failed after its headers went out: the connection must just close.
  bool CallHandler(TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                   TNetHTTPResponseInfo& response);
  // The stream OnCreatePostStream supplies for a body; none without the hook.
  std::unique_ptr<TStream> PostStream(TNetPeerThread& thread);
  bool Answers(const std::string& method) const;

  bool keepConnectionsOpen_ = false;
  bool parseParams_ = true;
  std::string serverSoftware_;
  std::vector<std::string> extraMethods_;
  std::shared_ptr<TNetBodyBudget> bodyBudget_;  // made at activation from the limits
};

// The server the program creates: default port 80.
class TNetHTTPServer : public TNetCustomHTTPServer {
 public:
  TNetHTTPServer();
};

}  // namespace tovi::http

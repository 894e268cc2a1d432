#include "http/server/http_server.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "http/exceptions.h"

namespace tovi::http {
namespace {

// Room an input buffer keeps between requests; one grown past it for a body is shrunk.
constexpr std::size_t kKeptInputBytes = 64 * 1024;
// How long the thread that accepted a connection waits for its first bytes before the connection
// waits without it: they are on their way as a rule (a client sends its request as soon as it
// has connected), and a hand-over to the readiness wait and back costs several thread wake-ups.
// A peer that sends nothing holds a thread this long once.
constexpr int kFirstBytesWaitMs = 2;

}  // namespace

TNetCustomHTTPServer::TNetCustomHTTPServer() = default;

std::int64_t TNetCustomHTTPServer::BodyBytesHeld() const {
  return bodyBudget_ ? bodyBudget_->Held() : 0;
}

void TNetCustomHTTPServer::BeforeActivate() {
  bodyBudget_ = std::make_shared<TNetBodyBudget>(Limits().maxBodyBytesHeld);
}

void TNetCustomHTTPServer::ReadHead(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request,
                                    std::size_t headBytes) {
  const TNetHeadBounds bounds = HeadBounds(conn);
  int lines = 0;
  for (;;) {
    std::string line = conn.ReadLn();
    if (line.empty()) break;
    headBytes += line.size() + 2;
    if (bounds.Exceeded(++lines, headBytes)) throw ENetHTTPRequestHeadTooLarge();
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
    request.HeaderLines().Add(line);
  }
}

void TNetCustomHTTPServer::ReadBody(TNetPeerThread& thread, TNetHTTPRequestInfo& request) {
  TNetTCPServerConnection& conn = thread.Connection();
  TNetRequestProgress& progress = conn.Request();
  const TNetServerLimits& limits = Limits();
  std::unique_ptr<TStream> stream;
  if (OnCreatePostStream) OnCreatePostStream(thread, stream);
  const bool own = !stream;
  if (own) stream = std::make_unique<TStringStream>();
  conn.SetReadTimeout(limits.bodyStallTimeoutMs);
  // A body waited for without a thread keeps the deadline it began with.
  conn.SetReadDeadline(progress.bodyTimed
                           ? progress.bodyDeadline
                           : TNetTCPConnection::Clock::now() +
                                 std::chrono::milliseconds(limits.bodyTotalTimeoutMs));
  const std::int64_t length = request.ContentLength();
  if (length > 0) {
    if (length > limits.maxRequestBodyBytes) throw ENetHTTPRequestBodyTooLarge();
    if (!progress.body.HoldTotal(bodyBudget_, length)) throw ENetHTTPRequestBodyTooLarge();
    // What has come already (all of it, when it was waited for without a thread) is taken in
    // one piece: read piecewise from the front, a large buffer would be moved at every piece.
    std::string& in = conn.InputBuffer();
    const std::size_t ready = std::min(in.size(), static_cast<std::size_t>(length));
    stream->Write(in.data(), ready);
    in.erase(0, ready);
    conn.ReadStream(*stream, length - static_cast<std::int64_t>(ready));
  } else if (request.RequestMethod() == "POST" && !request.HasContentLength()) {
    std::string piece;
    std::int64_t total = 0;
    for (;;) {
      piece.clear();
      std::size_t got = conn.ReadSome(piece, kRecvChunk);
      if (got == 0) break;
      total += static_cast<std::int64_t>(got);
      if (total > limits.maxRequestBodyBytes) throw ENetHTTPRequestBodyTooLarge();
      if (!progress.body.HoldTotal(bodyBudget_, total)) throw ENetHTTPRequestBodyTooLarge();
      stream->Write(piece.data(), got);
    }
  }
  conn.SetReadTimeout(0);
  conn.ClearReadDeadline();
  request.TakeBody(std::move(stream), !own);
}

bool TNetCustomHTTPServer::CallHandler(TNetPeerThread& thread, TNetHTTPRequestInfo& request,
                                       TNetHTTPResponseInfo& response) {
  try {
    OnCommandGet(thread, request, response);
  } catch (const std::exception& e) {
    // Once the status and the length are on the wire, any text now would be taken for body
    // bytes (a player would play the message as media): the peer gets a short body instead.
    if (response.HeadersSent()) return false;
    response.SetResponseCode(500);
    response.SetBodyText(e.what());
  }
  return true;
}

bool TNetCustomHTTPServer::Answers(const std::string& method) const {
  if (!OnCommandGet) return false;
  return method == "GET" || method == "POST" || method == "HEAD" ||
         std::find(extraMethods_.begin(), extraMethods_.end(), method) != extraMethods_.end();
}

bool TNetCustomHTTPServer::ServeRequest(TNetPeerThread& thread, const std::string& line) {
  TNetTCPServerConnection& conn = thread.Connection();
  TNetRequestLine parts;
  if (!SplitRequestLine(line, &parts)) throw ENetHTTPErrorParsingCommand();
  const std::string& method = parts.method;
  if (!Answers(method)) {
    conn.ClearReadDeadline();
    if (OnCommandOther) OnCommandOther(thread, method, parts.target, parts.version);
    return !keepAlive_;
  }

  TNetHTTPRequestInfo request;
  request.SetRequestLine(line, parts, conn.Binding().PeerIP());
  ReadHead(conn, request, line.size() + 2);
  conn.ClearReadDeadline();
  RestoreAfterHead(conn);
  request.ProcessHeaders();
  // Only POST bodies are used. Another request's body is left unread, and its connection closed
  // after the answer: what follows its head cannot be told from a next request.
  const bool bodyLeft =
      method != "POST" &&
      (request.ContentLength() > 0 || !request.HeaderLines().Values("Transfer-Encoding").empty());
  if (method == "POST") ReadBody(thread, request);
  request.ApplyTarget(parts.target, parseParams_);
  request.ApplyAuthorization();

  TNetHTTPResponseInfo response(conn);
  response.SetCloseAfterResponse(!keepAlive_ || bodyLeft);
  response.headRequest_ = method == "HEAD";
  if (!Trim(serverSoftware_).empty()) response.SetServerSoftware(serverSoftware_);
  if (!CallHandler(thread, request, response)) return true;
  response.Finish();
  return response.CloseAfterResponse() || bodyLeft;
}

void TNetCustomHTTPServer::EndRequest(TNetTCPServerConnection& conn) {
  // A buffer grown for a body does not stay that large; then the body's bytes go back to the
  // budget (last, so that memory returned to the system then includes the buffer's).
  std::string& in = conn.InputBuffer();
  if (in.capacity() > kKeptInputBytes) std::string(in).swap(in);
  conn.Request().Reset();
}

bool TNetCustomHTTPServer::ReadsHeaderLines(std::string_view requestLine) const {
  TNetRequestLine parts;
  return SplitRequestLine(requestLine, &parts) && Answers(parts.method);
}

TNetHeadBounds TNetCustomHTTPServer::HeadBounds(const TNetTCPServerConnection& conn) const {
  const TNetServerLimits& limits = Limits();
  return {static_cast<std::size_t>(conn.MaxLineLength()), limits.maxHeaderLines,
          limits.maxRequestHeadBytes};
}

TNetHeadScan::State TNetCustomHTTPServer::ScanHead(TNetTCPServerConnection& conn) const {
  const auto readsHeaderLines = [this](std::string_view line) { return ReadsHeaderLines(line); };
  return conn.Request().scan.Scan(conn.InputBuffer(), HeadBounds(conn), readsHeaderLines);
}

bool TNetCustomHTTPServer::WaitForRequestIdle(TNetPeerThread& thread) {
  if (!thread.CanWaitIdle()) return false;
  TNetTCPServerConnection& conn = thread.Connection();
  TNetHeadScan::State state = ScanHead(conn);
  if (state == TNetHeadScan::State::Incomplete) {
    if (!conn.ReceiveArrived()) return false;
    if (thread.FirstTurn() && conn.InputBuffer().empty() &&
        net::WaitReadable(conn.Socket(), kFirstBytesWaitMs) > 0 && !conn.ReceiveArrived()) {
      return false;
    }
    state = ScanHead(conn);
    if (state == TNetHeadScan::State::Incomplete) {
      thread.WaitIdle();
      return true;
    }
  }
  return state == TNetHeadScan::State::Complete && WaitForBodyIdle(thread);
}

bool TNetCustomHTTPServer::WaitForBodyIdle(TNetPeerThread& thread) {
  TNetTCPServerConnection& conn = thread.Connection();
  TNetRequestProgress& progress = conn.Request();
  const TNetServerLimits& limits = Limits();
  std::string& in = conn.InputBuffer();
  // Only a POST body of known length is waited for so; any other is the reading's to handle.
  const std::int64_t length = progress.scan.ContentLength();
  if (in.compare(0, 5, "POST ") != 0 || length <= 0 || length > limits.maxRequestBodyBytes) {
    return false;
  }
  if (!progress.bodyTimed) {
    // Held in full from the start, as the reading will hold it: a body that could not be held
    // is refused before its bytes are waited for.
    if (!progress.body.HoldTotal(bodyBudget_, length)) throw ENetHTTPRequestBodyTooLarge();
    progress.bodyTimed = true;
    progress.bodyDeadline = TNetTCPConnection::Clock::now() +
                            std::chrono::milliseconds(limits.bodyTotalTimeoutMs);
    conn.SetReadDeadline(progress.bodyDeadline);
  }
  const std::size_t head = progress.scan.HeadBytes();
  const std::size_t whole = head + static_cast<std::size_t>(length);
  // Takes what has come, a bounded number of receives per turn, so that one fast body does not
  // keep its thread from the others in line.
  constexpr int kReceivesPerTurn = 64;
  for (int i = 0; i < kReceivesPerTurn && in.size() < whole; ++i) {
    const std::size_t before = in.size();
    if (!conn.ReceiveArrived()) return false;
    if (in.size() == before) break;
  }
  if (in.size() >= whole) return false;
  thread.WaitIdle();
  return true;
}

void TNetCustomHTTPServer::SetAsideAfterHead(TNetTCPServerConnection& conn) {
  TNetRequestProgress& progress = conn.Request();
  std::string& in = conn.InputBuffer();
  if (progress.scan.Current() != TNetHeadScan::State::Complete) return;
  const std::size_t head = progress.scan.HeadBytes();
  // Read line by line, a head with a large body behind it would move the body at every line.
  if (in.size() <= head) return;
  progress.afterHead.assign(in, head, std::string::npos);
  in.resize(head);
}

void TNetCustomHTTPServer::RestoreAfterHead(TNetTCPServerConnection& conn) {
  std::string& aside = conn.Request().afterHead;
  if (aside.empty()) return;
  std::string& in = conn.InputBuffer();
  if (in.empty()) {
    in.swap(aside);
  } else {
    in += aside;
  }
  std::string().swap(aside);
}

bool TNetCustomHTTPServer::DoExecute(TNetPeerThread& thread) {
  TNetTCPServerConnection& conn = thread.Connection();
  const TNetServerLimits& limits = Limits();
  try {
    for (;;) {
      // A head waited for without a thread keeps the deadline it began with.
      if (!conn.HasReadDeadline()) {
        conn.SetReadDeadline(TNetTCPConnection::Clock::now() +
                             std::chrono::milliseconds(limits.requestHeadTimeoutMs));
        conn.Request().Reset();
      }
      if (WaitForRequestIdle(thread)) return true;
      SetAsideAfterHead(conn);
      const std::string line = conn.ReadLn();
      const bool closeAfter = ServeRequest(thread, line);
      EndRequest(conn);
      // A handler that closed the connection itself ends it as a close would.
      if (closeAfter || !conn.Connected()) break;
    }
    conn.EndConnection();
  } catch (const ENetSocketError& e) {
    conn.EndConnection();
    EndRequest(conn);
    if (e.LastError() == net::kErrConnectionReset) return true;
    throw;
  } catch (const ENetClosedSocket&) {
    conn.EndConnection();
    EndRequest(conn);
    return true;
  } catch (...) {
    conn.EndConnection();
    EndRequest(conn);
    throw;
  }
  return true;
}

TNetHTTPServer::TNetHTTPServer() { SetDefaultPort(80); }

}  // namespace tovi::http

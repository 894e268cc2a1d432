#include "http/server/http_server.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "http/coding.h"
#include "http/exceptions.h"
#include "http/header_values.h"

namespace tovi::http {
namespace {

// Room an input buffer keeps between requests; one grown past it for a body is shrunk.
constexpr std::size_t kKeptInputBytes = 64 * 1024;
// How long the thread that accepted a connection waits for its first bytes before the connection
// waits without it: they are on their way as a rule (a client sends its request as soon as it
// has connected), and a hand-over to the readiness wait and back costs several thread wake-ups.
// A peer that sends nothing holds a thread this long once.
constexpr int kFirstBytesWaitMs = 2;

// Path decoding of a request target's path part; the host of an absolute URL goes to *host.
// The whole path is decoded, "=" and all: players percent-encode the names a playlist lists,
// and names with "=" are common. A raw "#" after the first "=" still ends the path, as ever.
std::string DecodePath(const std::string& pathPart, std::string* host) {
  std::string s = pathPart;
  std::replace(s.begin(), s.end(), '\\', '/');
  std::size_t scheme = s.find("://");
  if (scheme != std::string::npos) {
    std::string rest = s.substr(scheme + 3);
    std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    std::size_t at = authority.find('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    *host = authority.substr(0, authority.find(':'));
    s = "/" + (slash == std::string::npos ? std::string() : rest.substr(slash + 1));
  }
  const std::size_t eq = s.find('=');
  if (eq != std::string::npos) s = s.substr(0, s.find('#', eq));
  return URLDecode(s);
}

std::vector<std::string> SplitParams(const std::string& source) {
  std::vector<std::string> out;
  if (source.empty()) return out;
  std::size_t start = 0;
  for (;;) {
    std::size_t amp = source.find('&', start);
    out.push_back(URLDecode(source.substr(start, amp == std::string::npos ? amp : amp - start)));
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  return out;
}

TNetCookieRC CookieFrom(const std::string& piece) {
  TNetCookieRC c;
  std::size_t eq = piece.find('=');
  c.Name = piece.substr(0, eq);
  if (eq != std::string::npos) c.Value = piece.substr(eq + 1);
  return c;
}

TNetCookies ParseCookies(const TNetHeaderList& headers) {
  TNetCookies out;
  for (const std::string& value : headers.Extract("Cookie")) {
    std::size_t start = 0;
    bool first = true;
    for (;;) {
      std::size_t semi = value.find(';', start);
      std::string piece = value.substr(start, semi == std::string::npos ? semi : semi - start);
      if (!first) {
        std::size_t b = 0;
        while (b < piece.size() && (piece[b] == ' ' || piece[b] == '\t')) ++b;
        piece.erase(0, b);
      }
      if (semi != std::string::npos || !piece.empty()) out.push_back(CookieFrom(piece));
      if (semi == std::string::npos) break;
      start = semi + 1;
      first = false;
    }
  }
  return out;
}

// A request line's parts: the method in upper case, the target, the text after the last space.
struct RequestLine {
  std::string method;
  std::string target;
  std::string version;
};

// False when the line has no space: the loop then fails with "Error in parsing command.".
bool SplitRequestLine(std::string_view line, RequestLine* out) {
  const std::size_t lastSpace = line.rfind(' ');
  if (lastSpace == std::string_view::npos) return false;
  out->version = line.substr(lastSpace + 1);
  const std::string_view rest = line.substr(0, lastSpace);
  const std::size_t firstSpace = rest.find(' ');
  out->method = UpperCase(std::string(rest.substr(0, firstSpace)));
  out->target = firstSpace == std::string_view::npos ? std::string_view()
                                                     : rest.substr(firstSpace + 1);
  return true;
}

}  // namespace

// ---- request ----

void TNetHTTPRequestInfo::ProcessHeaders() {
  serverside::TNetRequestHeaderInfo::ProcessHeaders();
}

// ---- server ----

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
  } else if (request.method_ == "POST" && !request.HasContentLength()) {
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
  if (auto* text = dynamic_cast<TStringStream*>(stream.get())) {
    request.formText_ = text->DataString();
    request.paramText_ = request.formText_;
  }
  if (!own) {
    stream->SetPosition(0);
    request.body_ = std::move(stream);
  }
}

void TNetCustomHTTPServer::ApplyTarget(TNetHTTPRequestInfo& request, const std::string& target) {
  const std::size_t question = target.find('?');
  const std::string pathPart = target.substr(0, question);
  if (question != std::string::npos) request.query_ = target.substr(question + 1);
  if (!request.query_.empty()) {
    request.paramText_ = request.paramText_.empty()
                             ? request.query_
                             : request.paramText_ + "\r\n" + request.query_;
  }
  if (parseParams_) {
    request.params_ = SplitParams(LowerCase(request.ContentType()) ==
                                          "application/x-www-form-urlencoded"
                                      ? request.paramText_
                                      : request.query_);
  }
  request.cookies_ = ParseCookies(request.HeaderLines());
  if (pathPart == "*") {
    request.path_ = "*";
  } else {
    std::string host;
    request.path_ = DecodePath(pathPart, &host);
    if (request.Host().empty()) request.SetHost(host);
  }
}

void TNetCustomHTTPServer::ApplyAuthorization(TNetHTTPRequestInfo& request) {
  const std::string authorization = request.HeaderLines().Values("Authorization");
  if (authorization.empty()) return;
  request.authExists_ = true;
  const std::size_t space = authorization.find(' ');
  if (!SameText(authorization.substr(0, space), "Basic")) {
    throw ENetHTTPUnsupportedAuthorisationScheme();
  }
  const std::string decoded = Base64Decode(
      space == std::string::npos ? std::string() : Trim(authorization.substr(space + 1)));
  const std::size_t colon = decoded.find(':');
  request.authUsername_ = decoded.substr(0, colon);
  if (colon != std::string::npos) request.authPassword_ = decoded.substr(colon + 1);
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
  RequestLine parts;
  if (!SplitRequestLine(line, &parts)) throw ENetHTTPErrorParsingCommand();
  const std::string& method = parts.method;
  if (!Answers(method)) {
    conn.ClearReadDeadline();
    if (OnCommandOther) OnCommandOther(thread, method, parts.target, parts.version);
    return !keepAlive_;
  }

  TNetHTTPRequestInfo request;
  request.rawRequestLine_ = line;
  request.remoteAddress_ = conn.Binding().PeerIP();
  request.method_ = method;
  request.version_ = parts.version;
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
  ApplyTarget(request, parts.target);
  ApplyAuthorization(request);

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
  RequestLine parts;
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

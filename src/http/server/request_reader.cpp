#include "http/server/request_reader.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>

#include "http/coding.h"
#include "http/exceptions.h"
#include "http/header_list.h"
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
// Receives a body waited for without a thread takes per turn, so that one fast body does not
// keep its thread from the others in line.
constexpr int kReceivesPerTurn = 64;

void ShrinkGrownInput(std::string& in) {
  if (in.capacity() > kKeptInputBytes) std::string(in).swap(in);
}

// A client that asked for it sends its body only after "100 Continue", or after a wait of its
// own (a second, as a rule): it is sent once the body is taken (a body refused ends the
// connection instead), once per request, and never to an HTTP/1.0 client.
void InviteBody(TNetTCPServerConnection& conn, bool asked, std::string_view version) {
  TNetRequestProgress& progress = conn.Request();
  if (!asked || progress.continued || !SameText(version, "HTTP/1.1")) return;
  progress.continued = true;
  conn.Write("HTTP/1.1 100 Continue\r\n\r\n");
}

// The same for a request read line by line, whose head the scan has not seen.
void InviteBody(TNetTCPServerConnection& conn, const TNetHTTPRequestInfo& request) {
  InviteBody(conn, SameText(Trim(request.HeaderLines().Values("Expect")), "100-continue"),
             request.HttpVersion());
}

// A chunk's size line as a body's framing must have it: hexadecimal digits before any extension.
// Another line is no chunk: read as the last one, it would end the body there and leave what
// follows to be read as trailer lines and then as the next request.
std::int64_t ChunkSize(const std::string& line) {
  const std::size_t digits = std::min(line.find_first_of(" \t;"), line.size());
  if (digits == 0 || !std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(digits),
                                  [](char c) { return HexDigitValue(c) >= 0; })) {
    throw ENetHTTPErrorParsingCommand();
  }
  return ParseChunkSize(line);
}

}  // namespace

void TNetRequestReader::BeginRequest(TNetTCPServerConnection& conn) const {
  if (conn.HasReadDeadline()) return;
  conn.SetReadDeadline(TNetTCPConnection::Clock::now() +
                       std::chrono::milliseconds(limits_.requestHeadTimeoutMs));
  conn.Request().Reset();
}

TNetHeadBounds TNetRequestReader::HeadBounds(const TNetTCPServerConnection& conn) const {
  return {static_cast<std::size_t>(conn.MaxLineLength()), limits_.maxHeaderLines,
          limits_.maxRequestHeadBytes};
}

TNetHeadScan::State TNetRequestReader::ScanHead(TNetTCPServerConnection& conn) const {
  return conn.Request().scan.Scan(conn.InputBuffer(), HeadBounds(conn), readsHeaderLines_);
}

bool TNetRequestReader::WaitIdleForRequest(TNetPeerThread& thread) const {
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
  return state == TNetHeadScan::State::Complete && WaitIdleForBody(thread);
}

bool TNetRequestReader::WaitIdleForBody(TNetPeerThread& thread) const {
  TNetTCPServerConnection& conn = thread.Connection();
  TNetRequestProgress& progress = conn.Request();
  std::string& in = conn.InputBuffer();
  // Only a POST body of known length is waited for so; any other is the reading's to handle.
  const std::int64_t length = progress.scan.ContentLength();
  // The method as the request loop will read it: the scan's split serves both.
  const TNetRequestLine* line = progress.scan.RequestLine();
  if (length <= 0 || length > limits_.maxRequestBodyBytes || !line || line->method != "POST") {
    return false;
  }
  if (!progress.bodyTimed) {
    // Held in full from the start, as the reading will hold it: a body that could not be held
    // is refused before its bytes are waited for.
    if (!progress.body.HoldTotal(budget_, conn.Binding().PeerIP(), length)) {
      throw ENetHTTPRequestBodyTooLarge();
    }
    progress.bodyTimed = true;
    progress.bodyDeadline = TNetTCPConnection::Clock::now() +
                            std::chrono::milliseconds(limits_.bodyTotalTimeoutMs);
    conn.SetReadDeadline(progress.bodyDeadline);
    InviteBody(conn, progress.scan.ExpectsContinue(), line->version);
  }
  const std::size_t whole = progress.scan.HeadBytes() + static_cast<std::size_t>(length);
  for (int i = 0; i < kReceivesPerTurn && in.size() < whole; ++i) {
    const std::size_t before = in.size();
    if (!conn.ReceiveArrived()) return false;
    if (in.size() == before) break;
  }
  if (in.size() >= whole) return false;
  thread.WaitIdle();
  return true;
}

bool TNetRequestReader::ReadRequestLine(TNetTCPServerConnection& conn, std::string& line,
                                        TNetRequestLine& parts) const {
  TNetRequestProgress& progress = conn.Request();
  std::string& in = conn.InputBuffer();
  if (progress.scan.Current() == TNetHeadScan::State::Complete) {
    const std::size_t head = progress.scan.HeadBytes();
    progress.head.assign(in, 0, head);
    in.erase(0, head);
    progress.headRead = 0;
  }
  line = NextHeadLine(conn);
  // Empty lines before the request line are passed over, as the scan passes them.
  const TNetHeadBounds bounds = HeadBounds(conn);
  for (int skipped = 1; line.empty(); ++skipped) {
    if (bounds.Exceeded(skipped, 2 * static_cast<std::size_t>(skipped))) {
      throw ENetHTTPRequestHeadTooLarge();
    }
    line = NextHeadLine(conn);
  }
  // Nothing was taken off the input since the scan began at its front: a line it split is this.
  if (const TNetRequestLine* scanned = progress.scan.RequestLine()) {
    parts = *scanned;
    return true;
  }
  return SplitRequestLine(line, &parts);
}

std::string TNetRequestReader::NextHeadLine(TNetTCPServerConnection& conn) {
  TNetRequestProgress& progress = conn.Request();
  if (progress.head.empty()) return conn.ReadLn();
  // The scan found every line within its bounds and the empty line that ends the head.
  const std::size_t lf = progress.head.find('\n', progress.headRead);
  if (lf == std::string::npos) return {};
  std::size_t end = lf;
  if (end > progress.headRead && progress.head[end - 1] == '\r') --end;
  std::string line = progress.head.substr(progress.headRead, end - progress.headRead);
  progress.headRead = lf + 1;
  return line;
}

void TNetRequestReader::ReadHead(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request,
                                 std::size_t headBytes) const {
  const TNetHeadBounds bounds = HeadBounds(conn);
  int lines = 0;
  for (;;) {
    std::string line = NextHeadLine(conn);
    if (line.empty()) break;
    headBytes += line.size() + 2;
    if (bounds.Exceeded(++lines, headBytes)) throw ENetHTTPRequestHeadTooLarge();
    if (line.size() >= 2 && line[0] == '.' && line[1] == '.') line.erase(0, 1);
    request.HeaderLines().Add(line);
  }
  conn.ClearReadDeadline();
  request.ProcessHeaders();
}

void TNetRequestReader::ReadBody(TNetTCPServerConnection& conn, TNetHTTPRequestInfo& request,
                                 std::unique_ptr<TStream> supplied) const {
  TNetRequestProgress& progress = conn.Request();
  const bool own = !supplied;
  // A chunked body is read as its chunks, whatever length was sent beside it.
  const bool chunked = EndsChunked(request.HeaderLines().Values("Transfer-Encoding"));
  const std::int64_t length = chunked ? -1 : request.ContentLength();
  std::unique_ptr<TStream> stream;
  if (own) {
    auto text = std::make_unique<TStringStream>();
    // Its announced length at once (it is held against the budget already, or refused before
    // anything is read): grown by doubling, it would take twice that.
    if (length > 0 && length <= limits_.maxRequestBodyBytes) {
      text->Reserve(static_cast<std::size_t>(length));
    }
    stream = std::move(text);
  } else {
    stream = std::move(supplied);
  }
  conn.SetReadTimeout(limits_.bodyStallTimeoutMs);
  // A body waited for without a thread keeps the deadline it began with.
  conn.SetReadDeadline(progress.bodyTimed
                           ? progress.bodyDeadline
                           : TNetTCPConnection::Clock::now() +
                                 std::chrono::milliseconds(limits_.bodyTotalTimeoutMs));
  if (length > 0) {
    ReadBodyBytes(conn, request, length, *stream);
  } else if (request.RequestMethod() == "POST" && chunked) {
    ReadChunkedBody(conn, request, *stream);
  } else if (request.RequestMethod() == "POST" && !request.HasContentLength()) {
    ReadBodyToClose(conn, request, *stream);
  }
  conn.SetReadTimeout(0);
  conn.ClearReadDeadline();
  request.TakeBody(std::move(stream), !own);
}

void TNetRequestReader::ReadBodyBytes(TNetTCPServerConnection& conn,
                                      const TNetHTTPRequestInfo& request, std::int64_t length,
                                      TStream& stream) const {
  if (length > limits_.maxRequestBodyBytes) throw ENetHTTPRequestBodyTooLarge();
  if (!conn.Request().body.HoldTotal(budget_, conn.Binding().PeerIP(), length)) {
    throw ENetHTTPRequestBodyTooLarge();
  }
  InviteBody(conn, request);
  // What has come already (all of it, when it was waited for without a thread) is taken in
  // one piece: read piecewise from the front, a large buffer would be moved at every piece.
  std::string& in = conn.InputBuffer();
  const std::size_t ready = std::min(in.size(), static_cast<std::size_t>(length));
  stream.Write(in.data(), ready);
  in.erase(0, ready);
  // A buffer grown for the body gives its memory back now, not after the answer.
  ShrinkGrownInput(in);
  conn.ReadStream(stream, length - static_cast<std::int64_t>(ready));
}

void TNetRequestReader::ReadChunkedBody(TNetTCPServerConnection& conn,
                                        const TNetHTTPRequestInfo& request, TStream& stream) const {
  InviteBody(conn, request);
  std::int64_t total = 0;
  for (std::int64_t size = ChunkSize(conn.ReadLn()); size > 0; size = ChunkSize(conn.ReadLn())) {
    if (size > limits_.maxRequestBodyBytes - total) throw ENetHTTPRequestBodyTooLarge();
    total += size;
    if (!conn.Request().body.HoldTotal(budget_, conn.Binding().PeerIP(), total)) {
      throw ENetHTTPRequestBodyTooLarge();
    }
    conn.ReadStream(stream, size);
    // A chunk ends with its size: more bytes before the CR LF are no body of this request.
    if (!conn.ReadLn().empty()) throw ENetHTTPErrorParsingCommand();
  }
  const TNetHeadBounds bounds = HeadBounds(conn);
  std::size_t trailerBytes = 0;
  for (int lines = 1;; ++lines) {
    const std::string line = conn.ReadLn();
    if (line.empty()) break;
    trailerBytes += line.size() + 2;
    if (bounds.Exceeded(lines, trailerBytes)) throw ENetHTTPRequestHeadTooLarge();
  }
}

void TNetRequestReader::ReadBodyToClose(TNetTCPServerConnection& conn,
                                        const TNetHTTPRequestInfo& request, TStream& stream) const {
  InviteBody(conn, request);
  std::string piece;
  std::int64_t total = 0;
  for (;;) {
    piece.clear();
    const std::size_t got = conn.ReadSome(piece, kRecvChunk);
    if (got == 0) break;
    total += static_cast<std::int64_t>(got);
    if (total > limits_.maxRequestBodyBytes) throw ENetHTTPRequestBodyTooLarge();
    if (!conn.Request().body.HoldTotal(budget_, conn.Binding().PeerIP(), total)) {
      throw ENetHTTPRequestBodyTooLarge();
    }
    stream.Write(piece.data(), got);
  }
}

void TNetRequestReader::EndRequest(TNetTCPServerConnection& conn) {
  // A buffer grown for a body does not stay that large; then the body's bytes go back to the
  // budget (last, so that memory returned to the system then includes the buffer's).
  ShrinkGrownInput(conn.InputBuffer());
  conn.Request().Reset();
}

}  // namespace tovi::http

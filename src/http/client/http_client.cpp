#include "http/client/http_client.h"

#include <algorithm>
#include <stdexcept>

#include "http/coding.h"
#include "http/header_values.h"
#include "http/keep_alive.h"
#include "platform/socket.h"

namespace tovi::http {
namespace {

constexpr int kErrorBodyTimeoutMs = 2000;
constexpr int kRedirectBodyTimeoutMs = 4000;
// A counted body's buffer is sized at its announced length, but not beyond this: a server's
// claim alone must not make us allocate gigabytes.
constexpr std::int64_t kLargestPreallocation = 64 * 1024 * 1024;

// Statuses and methods whose responses never carry a body (RFC 9110); reading one "until close"
// would wait on a server that keeps the connection.
bool HasNoBody(int statusCode, TNetHTTPMethod method) {
  return method == TNetHTTPMethod::hmHead || statusCode / 100 == 1 || statusCode == 204 ||
         statusCode == 304;
}

}  // namespace

const char* MethodText(TNetHTTPMethod method) {
  switch (method) {
    case TNetHTTPMethod::hmHead: return "HEAD";
    case TNetHTTPMethod::hmGet: return "GET";
    case TNetHTTPMethod::hmPost: return "POST";
    case TNetHTTPMethod::hmOptions: return "OPTIONS";
    case TNetHTTPMethod::hmTrace: return "TRACE";
    case TNetHTTPMethod::hmPut: return "PUT";
    case TNetHTTPMethod::hmDelete: return "DELETE";
    case TNetHTTPMethod::hmConnect: return "CONNECT";
    case TNetHTTPMethod::hmNotify: return "NOTIFY";
  }
  return "GET";
}

// ---- request record ----

TNetHTTPRequest::TNetHTTPRequest() {
  SetAccept("text/html, */*");
  SetUserAgent("Mozilla/3.0 (compatible; NetHTTP Library)");
  SetContentType("text/html");
}

// ---- HTTP client ----

TNetCustomHTTP::TNetCustomHTTP() { urlParts_.Port = "80"; }

TNetCustomHTTP::~TNetCustomHTTP() = default;

void TNetCustomHTTP::SetPort(int port) {
  TNetTCPClient::SetPort(port);
  urlParts_.Port = std::to_string(port);
}

std::string TNetCustomHTTP::Get(const std::string& url) {
  std::string body;
  Get(url, body);
  return body;
}

void TNetCustomHTTP::Get(const std::string& url, std::string& body) {
  DoRequest(TNetHTTPMethod::hmGet, url, nullptr, body);
}

std::string TNetCustomHTTP::Post(const std::string& url, TNetMultiPartFormDataStream& form) {
  std::string body;
  Post(url, form, body);
  return body;
}

void TNetCustomHTTP::Post(const std::string& url, TNetMultiPartFormDataStream& form,
                          std::string& body) {
  request_.SetContentType(form.FormContentType());
  Post(url, static_cast<TStream&>(form), body);
}

void TNetCustomHTTP::Post(const std::string& url, TStream& source, std::string& body) {
  Disconnect();
  const TNetHTTPProtocolVersion before = protocolVersion_;
  if ((options_ & hoKeepOrigProtocol) == 0) protocolVersion_ = TNetHTTPProtocolVersion::pv1_0;
  try {
    DoRequest(TNetHTTPMethod::hmPost, url, &source, body);
  } catch (...) {
    protocolVersion_ = before;
    throw;
  }
  protocolVersion_ = before;
}

void TNetCustomHTTP::DoRequest(TNetHTTPMethod method, const std::string& url, TStream* source,
                               std::string& body) {
  const std::size_t bodyStart = body.size();
  request_.SetMethod(method);
  request_.SetSource(source);
  request_.SetURL(url);
  redirectCount_ = 0;
  authAttempts_ = 0;
  proxyAuthAttempts_ = 0;
  try {
    for (;;) {
      ++redirectCount_;
      PrepareRequest(request_.URL());
      FillRequestHeaders();
      // Built before connecting, so that a line it refuses costs the server no connection.
      const std::string head = RequestHead();
      ConnectToHost();
      SendRequest(head);
      ReadResponse();
      // Proxy-Connection's options count as the Connection's.
      keptAlive_ = KeepsConnectionOpen(VersionText(protocolVersion_),
                                       response_.Connection() + "," + response_.ProxyConnection());
      const Outcome outcome = Decide(body, bodyStart);
      CloseUnlessKeptAlive();
      if (outcome == Outcome::Done) break;
    }
  } catch (const ENetHTTPProtocolException&) {
    request_.SetSource(nullptr);
    CloseUnlessKeptAlive();
    throw;
  } catch (...) {
    // Whatever is left unread on the connection would be taken for the next response.
    request_.SetSource(nullptr);
    keptAlive_ = false;
    Disconnect();
    throw;
  }
  request_.SetSource(nullptr);
  redirectCount_ = 0;
}

void TNetCustomHTTP::PrepareRequest(const std::string& url) {
  TNetURI parts = TNetURI::Parse(url);
  if (!parts.Username.empty()) {
    request_.SetUsername(parts.Username);
    request_.SetPassword(parts.Password);
  }
  parts.Path = ResolvePath(urlParts_.Path, parts.Path);
  if (parts.Host.empty()) parts.Host = urlParts_.Host;
  if (parts.Protocol.empty()) parts.Protocol = "http";
  if (parts.Port.empty()) {
    const std::optional<std::int32_t> previous = ParseInt32(urlParts_.Port);
    if (!previous || *previous == 0 || *previous == 80 || *previous == 443) {
      if (SameText(parts.Protocol, "http")) {
        parts.Port = "80";
      } else if (SameText(parts.Protocol, "https")) {
        parts.Port = "443";
      } else {
        throw ENetUnknownProtocol();
      }
    } else {
      parts.Port = urlParts_.Port;
    }
  }
  if (!IsHostNameSafe(parts.Host)) throw ENetHTTPInvalidHost();
  urlParts_ = parts;

  std::string target = parts.Target();
  if (!proxyParams_.ProxyServer().empty())
    target = parts.Protocol + "://" + HostHeaderValue(parts.Host, parts.Port) + target;
  request_.SetRequestTarget(EscapeRequestTarget(target));
  request_.SetContentLength(request_.Source() ? request_.Source()->Size() : -1);
  request_.SetHost(HostHeaderValue(parts.Host, parts.Port));
  if (protocolVersion_ == TNetHTTPProtocolVersion::pv1_0) {
    if (request_.Connection().empty()) request_.SetConnection("keep-alive");
    if (!proxyParams_.ProxyServer().empty() && request_.ProxyConnection().empty())
      request_.SetProxyConnection("keep-alive");
  }
}

void TNetCustomHTTP::ConnectToHost() {
  const std::optional<std::int32_t> port = ParseInt32(urlParts_.Port);
  if (!port) throw std::invalid_argument("'" + urlParts_.Port + "' is not a valid integer value");
  const bool viaProxy = !proxyParams_.ProxyServer().empty();
  const std::string host = viaProxy ? proxyParams_.ProxyServer() : urlParts_.Host;
  const int tcpPort = viaProxy ? proxyParams_.ProxyPort() : *port;
  if (Socket() != net::kInvalidSocket && (!SameText(host, Host()) || tcpPort != Port()))
    Disconnect();
  SetHost(host);
  TNetTCPClient::SetPort(tcpPort);

  if (SameText(urlParts_.Protocol, "https")) throw ENetIOHandlerPropInvalid();

  if (!keptAlive_) Disconnect();
  // A kept connection that has become readable was closed by the server (or holds bytes
  // nobody asked for): either way it cannot carry this request.
  if (Socket() != net::kInvalidSocket &&
      (!InputBuffer().empty() || net::WaitReadable(Socket(), 1) != 0))
    Disconnect();
  if (Socket() == net::kInvalidSocket) Connect();
  keptAlive_ = true;
}

void TNetCustomHTTP::SendRequest(const std::string& head) {
  Write(head);
  SendSource();
}

void TNetCustomHTTP::FillRequestHeaders() {
  TNetHTTPRequest& r = request_;
  TNetHeaderList& h = r.HeaderLines();
  h.Clear();
  auto set = [&h](const char* name, const std::string& value) {
    if (!value.empty()) h.SetValue(name, value);
  };
  set("Connection", r.Connection());
  set("Content-Version", r.ContentVersion());
  set("Content-Encoding", r.ContentEncoding());
  set("Content-Language", r.ContentLanguage());
  set("Content-Type", r.ContentType());
  if (r.ContentLength() >= 0) set("Content-Length", std::to_string(r.ContentLength()));
  set("Cache-control", r.CacheControl());
  if (r.Date() > 0) set("Date", FormatHttpDate(r.Date()));
  if (r.Expires() > 0) set("Expires", FormatHttpDate(r.Expires()));
  set("Pragma", r.Pragma());
  for (const std::string& line : r.CustomHeaders().Lines()) h.Add(line);
  set("Proxy-Connection", r.ProxyConnection());
  set("Host", r.Host());
  set("Accept", r.Accept());
  set("Accept-Charset", r.AcceptCharSet());
  set("Accept-Encoding", r.AcceptEncoding());
  set("Accept-Language", r.AcceptLanguage());
  set("From", r.From());
  set("Referer", r.Referer());
  set("User-Agent", r.UserAgent());
  if (r.LastModified() > 0) set("If-Modified-Since", FormatHttpDate(r.LastModified()));
  if (r.BasicAuthentication() && !r.Username().empty())
    set("Authorization", "Basic " + Base64Encode(r.Username() + ":" + r.Password()));
  if (proxyParams_.BasicAuthentication() && !proxyParams_.ProxyUsername().empty()) {
    set("Proxy-Authorization",
        "Basic " + Base64Encode(proxyParams_.ProxyUsername() + ":" + proxyParams_.ProxyPassword()));
  }
  if (cookies_ && allowCookies_) set("Cookie", cookies_->CookieHeader(urlParts_.Host, urlParts_.Path + urlParts_.Document));
}

std::string TNetCustomHTTP::RequestHead() const {
  std::string head = std::string(MethodText(request_.Method())) + " " + request_.RequestTarget() +
                     " " + std::string(VersionText(protocolVersion_)) + "\r\n";
  for (const std::string& line : request_.HeaderLines().Lines()) {
    if (line.empty()) continue;
    // Every line, whatever set it: the caller's fields, custom lines, cookies a server set.
    if (!IsHeaderValueSafe(line)) throw ENetHTTPInvalidHeaderValue();
    head += line;
    head += "\r\n";
  }
  head += "\r\n";
  return head;
}

void TNetCustomHTTP::SendSource() {
  const TNetHTTPRequest& r = request_;
  TStream* source = r.Source();
  if (source == nullptr) return;
  source->SetPosition(0);
  std::int64_t left = r.ContentLength();
  std::string piece(static_cast<std::size_t>(sendBufferSize_), '\0');
  while (left > 0) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::int64_t>(left, sendBufferSize_));
    const std::size_t got = source->Read(piece.data(), want);
    if (got == 0) throw ENetNoDataToRead();
    WriteBuffer(piece.data(), got);
    left -= static_cast<std::int64_t>(got);
  }
}

std::string TNetCustomHTTP::ReadLine() {
  // The limit counts the line without its CR LF. maSplit hands an over-long line back in
  // pieces of MaxLineLength bytes instead of failing.
  const std::size_t max = static_cast<std::size_t>(std::max(1, MaxLineLength()));
  const bool split = maxLineAction_ == TNetMaxLineAction::maSplit;
  std::size_t searched = 0;
  CheckGoingOn();
  for (;;) {
    std::string& input = InputBuffer();
    const std::size_t lf = input.find('\n', searched);
    if (lf != std::string::npos) {
      const std::size_t end = lf > 0 && input[lf - 1] == '\r' ? lf - 1 : lf;
      if (end <= max) {
        std::string line = input.substr(0, end);
        input.erase(0, lf + 1);
        return line;
      }
    }
    // Beyond max + 1 bytes (room for a CR) without an acceptable end, the line is too long.
    if (lf != std::string::npos || input.size() > max + 1) {
      if (!split) throw ENetReadLnMaxLineLengthExceeded();
      std::string piece = input.substr(0, max);
      input.erase(0, max);
      return piece;
    }
    searched = input.size();
    if (ReadFromStack(true) == 0) {
      InputBuffer().clear();  // closed inside a line: it ends as an empty line
      return {};
    }
  }
}

void TNetCustomHTTP::CheckGoingOn() {
  if (Stopping()) throw ENetSocketError(net::kErrInterrupted);
  if (HasReadDeadline() && Clock::now() >= ReadDeadline()) throw ENetReadTimeout();
}

void TNetCustomHTTP::ReadResponse() {
  // Bounded like a request head, interim responses counted in: what a server sends before
  // the body costs at most this much memory and work.
  int lines = 0;
  std::size_t headBytes = 0;
  do {
    response_.Clear();
    response_.SetStatusLine(ReadLine());
    headBytes += response_.StatusLine().size() + 2;
    // Interim heads may have no header lines: their status lines alone must reach the bound.
    if (headBytes > kMaxHeadBytes) throw ENetHTTPResponseHeadTooLarge();
    try {
      for (;;) {
        std::string line = ReadLine();
        if (line.empty()) break;
        headBytes += line.size() + 2;
        if (++lines > kMaxHeadLines || headBytes > kMaxHeadBytes)
          throw ENetHTTPResponseHeadTooLarge();
        response_.HeaderLines().Add(line);
      }
    } catch (const ENetConnClosedGracefully&) {
      Disconnect();  // the server closed mid-head: go on with the lines we have
    }
    response_.SetStatusCode(ParseStatusCode(response_.StatusLine()));
    response_.ProcessHeaders();
    if (allowCookies_ && !cookies_) cookies_ = std::make_unique<TNetCookieManager>();
    if (allowCookies_) {
      for (const char* name : {"Set-cookie", "Set-cookie2"}) {
        for (const std::string& value : response_.HeaderLines().Extract(name))
          cookies_->AddServerCookie(value, urlParts_.Host, urlParts_.Path);
      }
    }
    // Interim answers (100 Continue, 102, 103 Early Hints) come before the real one; 101 would
    // change the protocol, which nothing here speaks, and is the error a status outside 2xx is.
  } while (response_.StatusCode() / 100 == 1 && response_.StatusCode() != 101);
}

TNetCustomHTTP::Outcome TNetCustomHTTP::Decide(std::string& body, std::size_t bodyStart) {
  const int code = response_.StatusCode();
  if ((code / 100 == 3 && code != 304) || !response_.Location().empty()) {
    std::string destination = response_.Location();
    TNetHTTPMethod method = request_.Method();
    const bool follow = handleRedirects_ && redirectCount_ < redirectMaximum_;
    bool handled = follow || handleRedirects_;
    if (OnRedirect) OnRedirect(destination, redirectCount_, handled, method);
    if (!handled) RaiseProtocolError();
    DiscardBody(kRedirectBodyTimeoutMs);
    body.resize(bodyStart);
    if (!follow) return Outcome::Done;
    request_.SetURL(destination);
    if (method != request_.Method()) {
      request_.SetMethod(method);
      if (method != TNetHTTPMethod::hmPost && method != TNetHTTPMethod::hmPut)
        request_.SetSource(nullptr);
    }
    return Outcome::Again;
  }
  if (code / 100 == 2) {
    if (!Connected()) throw ENetException("Undefined situation");
    if (!HasNoBody(code, request_.Method())) ReadBody(body, maxBodyLength_);
    return Outcome::Done;
  }
  const bool proxy = code == 407;
  TNetAuthorizationEvent& handler = proxy ? OnProxyAuthorization : OnAuthorization;
  int& attempts = proxy ? proxyAuthAttempts_ : authAttempts_;
  if ((code == 401 || code == 407) && handler && attempts < authRetries_) {
    bool handled = false;
    handler(proxy ? response_.ProxyAuthenticate() : response_.WWWAuthenticate(), handled);
    if (handled) {
      ++attempts;
      if (proxy) {
        proxyParams_.SetBasicAuthentication(true);
      } else {
        request_.SetBasicAuthentication(true);
      }
      DiscardBody(kRedirectBodyTimeoutMs);
      return Outcome::Again;
    }
  }
  RaiseProtocolError();
}

void TNetCustomHTTP::RaiseProtocolError() {
  std::string errorBody;
  if (!HasNoBody(response_.StatusCode(), request_.Method())) {
    const int saved = ReadTimeout();
    SetReadTimeout(kErrorBodyTimeoutMs);
    try {
      ReadBody(errorBody, maxBodyLength_);
    } catch (...) {
      SetReadTimeout(saved);
      throw;
    }
    SetReadTimeout(saved);
  }
  throw ENetHTTPProtocolException(response_.StatusCode(), response_.StatusLine(),
                                  std::move(errorBody));
}

void TNetCustomHTTP::DiscardBody(int timeoutMs) {
  if (HasNoBody(response_.StatusCode(), request_.Method())) return;
  const int saved = ReadTimeout();
  SetReadTimeout(timeoutMs);
  std::string dropped;
  try {
    ReadBody(dropped, maxBodyLength_);
  } catch (...) {
    keptAlive_ = false;  // what is left of the body would spoil the next exchange
    Disconnect();
  }
  SetReadTimeout(saved);
}

void TNetCustomHTTP::ReadBody(std::string& body, std::int64_t limit) {
  const std::size_t pieceSize = static_cast<std::size_t>(recvBufferSize_);
  std::int64_t kept = 0;
  std::string piece;
  // Takes up to max bytes; false when the server has closed.
  auto take = [&](std::size_t max) {
    piece.clear();
    if (ReadSome(piece, max) == 0) return false;
    if (limit > 0 && kept + static_cast<std::int64_t>(piece.size()) > limit) {
      body.append(piece, 0, static_cast<std::size_t>(limit - kept));
      keptAlive_ = false;
      Disconnect();
      throw ENetHTTPResponseBodyTooLarge();
    }
    body += piece;
    kept += static_cast<std::int64_t>(piece.size());
    return true;
  };

  const std::int64_t length = response_.ContentLength();
  if (length >= 1) {
    std::int64_t reserve = std::min(length, kLargestPreallocation);
    if (limit > 0) reserve = std::min(reserve, limit);
    body.reserve(body.size() + static_cast<std::size_t>(reserve));
    std::int64_t left = length;
    while (left > 0 && take(static_cast<std::size_t>(
                           std::min<std::int64_t>(left, static_cast<std::int64_t>(pieceSize)))))
      left = length - kept;
    body.shrink_to_fit();
  } else if (response_.HeaderLines().Values("Transfer-Encoding").find("chunked") !=
             std::string::npos) {
    for (std::int64_t size = ParseChunkSize(ReadLine()); size > 0;
         size = ParseChunkSize(ReadLine())) {
      const std::int64_t end = kept + size;
      while (kept < end) {
        if (!take(static_cast<std::size_t>(
                std::min<std::int64_t>(end - kept, static_cast<std::int64_t>(pieceSize)))))
          throw ENetConnClosedGracefully();
      }
      ReadLine();  // the CR LF after the chunk
    }
    ReadLine();  // the line after the last chunk; trailer fields are not supported
  } else if (!response_.HasContentLength()) {
    while (take(pieceSize)) {
    }
  }
}

void TNetCustomHTTP::CloseUnlessKeptAlive() {
  if (!keptAlive_) Disconnect();
}

}  // namespace tovi::http

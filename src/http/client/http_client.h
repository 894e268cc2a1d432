// The HTTP client engine: one-shot GET and POST exchanges over plain HTTP. This file is the
// exchange (request record, response record, TNetCustomHTTP); the connect is TNetTCPClient's
// (tcp_client.h), the cookie store TNetCookieManager (cookies.h).
//
// Use: make a TNetHTTP, optionally set Request().SetUserAgent(...), call Get or Post once, take
// the body, destroy the object (which closes its connection). A call blocks its thread until
// the exchange is over; with the defaults nothing limits how long that takes.
//
// What the server sees: the URL's path and query as written (backslashes become '/', the
// fragment is cut), except that control bytes, spaces and DEL are percent-encoded, so nothing
// from a URL can split the request line or start a line of its own; GET as HTTP/1.1 without a
// Connection line, POST as HTTP/1.0 with "Connection: keep-alive", the header lines in a fixed
// order, "Content-Type: text/html" on every request unless set. A host or a header value that
// would break a line is refused (ENetHTTPInvalidHost, ENetHTTPInvalidHeaderValue) before
// anything is sent.
// What the caller gets: the body bytes unconverted. Redirects are not followed by default.
// Every status that is not handled raises ENetHTTPProtocolException (message: the status line
// as received; ErrorCode, ErrorBody); the other failures raise the ENet* classes of
// http/exceptions.h, a port that is not a number std::invalid_argument.
// The overloads taking `std::string& body` append the body there as it arrives, so after an
// exception it holds what was received (nothing for an error status or a redirect).
//
// Limits (all off by default): ReadTimeout bounds every wait for data (ms) and, unless
// ConnectTimeout is set, the name lookup and connect together; ReadDeadline ends the call at a
// point in time wherever it is (lookup, connect, reads, the reading of a head already
// received); SendTimeout bounds a send that makes no progress; MaxBodyLength bounds the bytes
// kept of one body: reading stops there, the connection is closed and
// ENetHTTPResponseBodyTooLarge is raised with the body holding what arrived. An abort source
// (SetAbortSource) ends a call at any wait and between any two lines read.
// Always on: a response head holds at most kMaxHeadLines header lines and kMaxHeadBytes bytes
// (interim 1xx responses counted in, their status lines too), else
// ENetHTTPResponseHeadTooLarge; a line at most MaxLineLength bytes; the cookie jar at most
// TNetCookieManager::kMaxCookies cookies.
//
// Thread safety: an object belongs to the thread that uses it; objects share nothing.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "http/client/cookies.h"
#include "http/client/multipart.h"
#include "http/client/tcp_client.h"
#include "http/client/uri.h"
#include "http/client/wire.h"
#include "http/connection.h"
#include "http/exceptions.h"
#include "http/header_info.h"
#include "http/header_list.h"
#include "http/stream.h"

namespace tovi::http {

// A body longer than the client's MaxBodyLength.
class ENetHTTPResponseBodyTooLarge : public ENetException {
 public:
  ENetHTTPResponseBodyTooLarge() : ENetException("Response body too large.") {}
};

// A response head of more than kMaxHeadLines header lines or kMaxHeadBytes bytes.
class ENetHTTPResponseHeadTooLarge : public ENetException {
 public:
  ENetHTTPResponseHeadTooLarge() : ENetException("Response head too large.") {}
};

// A host to name on the Host line (from a URL or a redirect) holding a control byte or a
// blank: it would end or split the line. Raised before anything is looked up or sent.
class ENetHTTPInvalidHost : public ENetException {
 public:
  ENetHTTPInvalidHost() : ENetException("Invalid character in host name.") {}
};

// A header line to send holding a control byte other than TAB: it would end the line early and
// start another. Raised before a connection is made.
class ENetHTTPInvalidHeaderValue : public ENetException {
 public:
  ENetHTTPInvalidHeaderValue() : ENetException("Invalid character in header value.") {}
};

// hmNotify: a UPnP event message (GENA), which carries a body as a POST does.
enum class TNetHTTPMethod {
  hmHead, hmGet, hmPost, hmOptions, hmTrace, hmPut, hmDelete, hmConnect, hmNotify
};
// "GET", "POST", ...
const char* MethodText(TNetHTTPMethod method);

enum TNetHTTPOption : unsigned {
  hoInProcessAuth = 1,      // no effect: credentials come only from the authorization events
  hoKeepOrigProtocol = 2,   // Post keeps ProtocolVersion instead of switching to HTTP/1.0
  hoForceEncodeParams = 4,  // no effect: nothing is ever encoded
};
using TNetHTTPOptions = unsigned;

enum class TNetMaxLineAction { maException, maSplit };

// Proxy use: with ProxyServer set, connections go to the proxy and the request line names the
// whole URL; BasicAuthentication with a user name adds a Proxy-Authorization line.
class TNetProxyConnectionInfo {
  TOVI_HTTP_FIELD(std::string, ProxyServer, {})
  TOVI_HTTP_FIELD(int, ProxyPort, 0)
  TOVI_HTTP_FIELD(std::string, ProxyUsername, {})
  TOVI_HTTP_FIELD(std::string, ProxyPassword, {})
  TOVI_HTTP_FIELD(bool, BasicAuthentication, false)
};

// The request record: the header fields the client sends, with its defaults (the header lines
// are rebuilt from the fields before every send), and what one call sends.
class TNetHTTPRequest : public TNetRequestHeaderInfo {
  TOVI_HTTP_FIELD(std::string, URL, {})
  TOVI_HTTP_FIELD(TNetHTTPMethod, Method, TNetHTTPMethod::hmGet)
  TOVI_HTTP_FIELD(std::string, RequestTarget, {})

 public:
  // Accept "text/html, */*", the client's own User-Agent, Content-Type "text/html" (sent with
  // every request unless changed).
  TNetHTTPRequest();
  // The body of a POST during the call; not owned.
  TStream* Source() const { return source_; }
  void SetSource(TStream* source) { source_ = source; }

 private:
  TStream* source_ = nullptr;
};

// The response record: the status line and the header lines as received, and the fields
// ProcessHeaders takes from them.
class TNetHTTPResponse : public TNetResponseHeaderInfo {
  TOVI_HTTP_FIELD(std::string, StatusLine, {})  // as received, without CR LF
  TOVI_HTTP_FIELD(int, StatusCode, -1)          // -1 when the line holds none
 public:
  // Back to a fresh record.
  void Clear() { *this = TNetHTTPResponse(); }
};

class TNetCustomHTTP : public TNetTCPClient {
 public:
  // Redirect: may change the destination or the method; handled=false refuses (the response
  // becomes the error exception).
  using TNetRedirectEvent = std::function<void(std::string& destination, int count, bool& handled,
                                               TNetHTTPMethod& method)>;
  // 401 (OnAuthorization) or 407 (OnProxyAuthorization): the values of the challenge lines;
  // set the credentials (Request() or ProxyParams()) and handled=true to try again.
  using TNetAuthorizationEvent =
      std::function<void(const std::vector<std::string>& challenges, bool& handled)>;

  TNetCustomHTTP();
  ~TNetCustomHTTP() override;

  // The port used when a URL gives none (replaced from every URL that gives one).
  void SetPort(int port);

  TNetHTTPProtocolVersion ProtocolVersion() const { return protocolVersion_; }
  void SetProtocolVersion(TNetHTTPProtocolVersion v) { protocolVersion_ = v; }
  TNetHTTPOptions HTTPOptions() const { return options_; }
  void SetHTTPOptions(TNetHTTPOptions options) { options_ = options; }
  bool HandleRedirects() const { return handleRedirects_; }
  void SetHandleRedirects(bool on) { handleRedirects_ = on; }
  int RedirectMaximum() const { return redirectMaximum_; }
  void SetRedirectMaximum(int n) { redirectMaximum_ = n; }
  int AuthRetries() const { return authRetries_; }
  void SetAuthRetries(int n) { authRetries_ = n; }
  bool AllowCookies() const { return allowCookies_; }
  void SetAllowCookies(bool on) { allowCookies_ = on; }
  TNetMaxLineAction MaxLineAction() const { return maxLineAction_; }
  void SetMaxLineAction(TNetMaxLineAction a) { maxLineAction_ = a; }
  int RecvBufferSize() const { return recvBufferSize_; }
  void SetRecvBufferSize(int n) { recvBufferSize_ = n > 0 ? n : 1; }
  int SendBufferSize() const { return sendBufferSize_; }
  void SetSendBufferSize(int n) { sendBufferSize_ = n > 0 ? n : 1; }
  // Most bytes kept of one response body; 0 = no limit.
  std::int64_t MaxBodyLength() const { return maxBodyLength_; }
  void SetMaxBodyLength(std::int64_t n) { maxBodyLength_ = n < 0 ? 0 : n; }

  TNetProxyConnectionInfo& ProxyParams() { return proxyParams_; }
  TNetHTTPRequest& Request() { return request_; }
  TNetHTTPResponse& Response() { return response_; }
  const TNetURI& UrlParts() const { return urlParts_; }
  int RedirectCount() const { return redirectCount_; }
  // Created on the first response while AllowCookies is on; null before.
  TNetCookieManager* CookieManager() { return cookies_.get(); }

  TNetRedirectEvent OnRedirect;
  TNetAuthorizationEvent OnAuthorization;
  TNetAuthorizationEvent OnProxyAuthorization;

  // The response body of a GET of url.
  std::string Get(const std::string& url);
  void Get(const std::string& url, std::string& body);
  // A POST of the form (Content-Type: its FormContentType) as HTTP/1.0 unless
  // hoKeepOrigProtocol; returns the response body.
  std::string Post(const std::string& url, TNetMultiPartFormDataStream& form);
  void Post(const std::string& url, TNetMultiPartFormDataStream& form, std::string& body);
  // The same with any body stream; Request().ContentType() is sent as it stands.
  void Post(const std::string& url, TStream& source, std::string& body);

  // One exchange of any method (source: the body, or null).
  void DoRequest(TNetHTTPMethod method, const std::string& url, TStream* source,
                 std::string& body);

 private:
  enum class Outcome { Done, Again };

  void PrepareRequest(const std::string& url);
  void ConnectToHost();
  // The head, then the source's bytes.
  void SendRequest(const std::string& head);
  // The request's fields as header lines, in the order they go out (empty fields left out).
  void FillRequestHeaders();
  // The request line and header lines; ENetHTTPInvalidHeaderValue for a line that a control
  // byte would end early.
  std::string RequestHead() const;
  void SendSource();
  void ReadResponse();
  Outcome Decide(std::string& body, std::size_t bodyStart);
  [[noreturn]] void RaiseProtocolError();
  // limit: most bytes kept (0: all); beyond it ENetHTTPResponseBodyTooLarge.
  void ReadBody(std::string& body, std::int64_t limit);
  void DiscardBody(int timeoutMs);
  std::string ReadLine();
  // Where no wait asks them (lines already received): the abort source and the read deadline.
  void CheckGoingOn();
  void CloseUnlessKeptAlive();

  TNetHTTPProtocolVersion protocolVersion_ = TNetHTTPProtocolVersion::pv1_1;
  TNetHTTPOptions options_ = hoForceEncodeParams;
  bool handleRedirects_ = false;
  int redirectMaximum_ = 15;
  int authRetries_ = 3;
  bool allowCookies_ = true;
  TNetMaxLineAction maxLineAction_ = TNetMaxLineAction::maException;
  int recvBufferSize_ = 32768;
  int sendBufferSize_ = 32768;
  std::int64_t maxBodyLength_ = 0;

  TNetProxyConnectionInfo proxyParams_;
  TNetHTTPRequest request_;
  TNetHTTPResponse response_;
  TNetURI urlParts_;
  std::unique_ptr<TNetCookieManager> cookies_;
  int redirectCount_ = 0;
  int authAttempts_ = 0;
  int proxyAuthAttempts_ = 0;
  bool keptAlive_ = true;  // the last response allowed the connection to stay open
};

class TNetHTTP : public TNetCustomHTTP {};

}  // namespace tovi::http

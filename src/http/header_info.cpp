#include "http/header_info.h"

#include <chrono>
#include <limits>

#include "http/header_values.h"

namespace tovi::http {

void TNetEntityHeaderInfo::ProcessHeaders() {
  const TNetHeaderList& h = HeaderLines();
  SetConnection(h.Values("Connection"));
  SetContentVersion(h.Values("Content-Version"));
  SetContentEncoding(h.Values("Content-Encoding"));
  SetContentLanguage(h.Values("Content-Language"));
  SetContentType(h.Values("Content-Type"));
  SetContentLength(ContentLengthValue(h.Values("Content-Length")));
  SetDate(ParseHttpDate(h.Values("Date")));
  SetLastModified(ParseHttpDate(h.Values("Last-Modified")));
  std::string expires = h.Values("Expires");
  if (const std::optional<std::int64_t> seconds = ParseInt64(expires)) {
    // A plain number of seconds counts from now.
    auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    // Saturates: a huge count from a peer must not wrap into the past.
    SetExpires(*seconds > std::numeric_limits<std::int64_t>::max() - now
                   ? std::numeric_limits<std::int64_t>::max()
                   : now + *seconds);
  } else {
    SetExpires(ParseHttpDate(expires));
  }
  SetPragma(h.Values("Pragma"));
}

void TNetRequestHeaderInfo::ProcessHeaders() {
  TNetEntityHeaderInfo::ProcessHeaders();
  const TNetHeaderList& h = HeaderLines();
  SetAccept(h.Values("Accept"));
  SetAcceptCharSet(h.Values("Accept-Charset"));
  SetAcceptEncoding(h.Values("Accept-Encoding"));
  SetAcceptLanguage(h.Values("Accept-Language"));
  SetFrom(h.Values("From"));
  SetReferer(h.Values("Referer"));
  SetUserAgent(h.Values("User-Agent"));
  SetHost(h.Values("Host"));
}

void TNetResponseHeaderInfo::ProcessHeaders() {
  TNetEntityHeaderInfo::ProcessHeaders();
  const TNetHeaderList& h = HeaderLines();
  SetLocation(h.Values("Location"));
  SetServer(h.Values("Server"));
  SetProxyConnection(h.Values("Proxy-Connection"));
  SetWWWAuthenticate(h.Extract("WWW-Authenticate"));
  SetProxyAuthenticate(h.Extract("Proxy-Authenticate"));
}

}  // namespace tovi::http

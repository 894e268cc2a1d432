#include "http/server/header_info.h"

#include <chrono>
#include <limits>

#include "http/header_values.h"

namespace tovi::http::serverside {
namespace {

bool ParseUnsigned(const std::string& text, std::uint64_t* out) {
  std::int64_t v = 0;
  if (!ParseInt64(text, &v) || v < 0) return false;
  *out = static_cast<std::uint64_t>(v);
  return true;
}

}  // namespace

bool ParseInt64(const std::string& text, std::int64_t* out) {
  if (text.empty()) return false;
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return false;
  std::uint64_t value = 0;
  const std::uint64_t limit = negative
      ? static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1
      : static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') return false;
    unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (limit - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *out = negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
  return true;
}

TNetEntityHeaderInfo::TNetEntityHeaderInfo() = default;

void TNetEntityHeaderInfo::ParseRange(const std::string& value) {
  rangeStart_ = rangeEnd_ = 0;
  hasRange_ = rangeHasEnd_ = rangeIsSuffix_ = false;
  if (value.empty()) return;
  hasRange_ = true;
  std::size_t eq = value.find('=');
  std::string rest = eq == std::string::npos ? std::string() : value.substr(eq + 1);
  std::size_t dash = rest.find('-');
  std::string startText = rest.substr(0, dash);
  std::string endText;
  if (dash != std::string::npos) {
    endText = rest.substr(dash + 1);
    endText = endText.substr(0, endText.find(' '));
  }
  bool startValid = ParseUnsigned(startText, &rangeStart_);
  if (!startValid) rangeStart_ = 0;
  rangeHasEnd_ = ParseUnsigned(endText, &rangeEnd_);
  if (!rangeHasEnd_) rangeEnd_ = 0;
  rangeIsSuffix_ = dash != std::string::npos && startText.empty() && rangeHasEnd_;
}

void TNetEntityHeaderInfo::ProcessHeaders() {
  const TNetHeaderList& h = headerLines_;
  SetConnection(h.Values("Connection"));
  SetContentVersion(h.Values("Content-Version"));
  SetContentEncoding(h.Values("Content-Encoding"));
  SetContentLanguage(h.Values("Content-Language"));
  SetContentType(h.Values("Content-Type"));
  std::int64_t length = -1;
  if (!ParseInt64(Trim(h.Values("Content-Length")), &length) || length < 0) length = -1;
  contentLength_ = length;
  ParseRange(h.Values("Range"));
  date_ = ParseHttpDate(h.Values("Date"));
  lastModified_ = ParseHttpDate(h.Values("Last-Modified"));
  std::string expires = h.Values("Expires");
  std::int64_t seconds = 0;
  if (ParseInt64(expires, &seconds)) {
    // A plain number of seconds counts from now.
    auto now = std::chrono::duration_cast<std::chrono::seconds>(
        std::chrono::system_clock::now().time_since_epoch()).count();
    // Saturates: a huge count from a client must not wrap into the past.
    expires_ = seconds > std::numeric_limits<std::int64_t>::max() - now
                   ? std::numeric_limits<std::int64_t>::max()
                   : now + seconds;
  } else {
    expires_ = ParseHttpDate(expires);
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

TNetResponseHeaderInfo::TNetResponseHeaderInfo() = default;

void TNetResponseHeaderInfo::ProcessHeaders() {
  TNetEntityHeaderInfo::ProcessHeaders();
  const TNetHeaderList& h = HeaderLines();
  SetLocation(h.Values("Location"));
  SetServer(h.Values("Server"));
  SetProxyConnection(h.Values("Proxy-Connection"));
  wwwAuthenticate_ = h.Extract("WWW-Authenticate");
  proxyAuthenticate_ = h.Extract("Proxy-Authenticate");
}

}  // namespace tovi::http::serverside

#include "http/server/header_info.h"

#include <chrono>
#include <cstdio>
#include <limits>

namespace tovi::http::serverside {
namespace {

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

int MonthIndex(const char* name) {
  for (int i = 0; i < 12; ++i) {
    bool same = true;
    for (int j = 0; j < 3 && same; ++j) {
      char c = name[j];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      char k = kMonths[i][j];
      if (k >= 'A' && k <= 'Z') k = static_cast<char>(k - 'A' + 'a');
      same = c == k;
    }
    if (same) return i + 1;
  }
  return 0;
}

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

std::int64_t ParseHttpDate(const std::string& text) {
  char wday[16] = {0}, mon[16] = {0}, zone[16] = {0};
  int d = 0, y = 0, hh = 0, mm = 0, ss = 0;
  int month = 0;
  // RFC 1123: Sun, 06 Nov 1994 08:49:37 GMT
  if (std::sscanf(text.c_str(), "%15[A-Za-z], %d %15s %d %d:%d:%d %15s", wday, &d, mon, &y, &hh,
                  &mm, &ss, zone) >= 7) {
    month = MonthIndex(mon);
  } else if (std::sscanf(text.c_str(), "%15[A-Za-z], %d-%15[A-Za-z]-%d %d:%d:%d", wday, &d, mon,
                         &y, &hh, &mm, &ss) == 7) {  // RFC 850: Sunday, 06-Nov-94 08:49:37 GMT
    month = MonthIndex(mon);
    if (y < 100) y += y < 70 ? 2000 : 1900;
  } else if (std::sscanf(text.c_str(), "%15s %15s %d %d:%d:%d %d", wday, mon, &d, &hh, &mm, &ss,
                         &y) == 7) {  // asctime: Sun Nov  6 08:49:37 1994
    month = MonthIndex(mon);
  }
  // Every field in range, negatives too: a client's "01:-826772594:37" must not overflow.
  if (month == 0 || d < 1 || d > 31 || hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 ||
      ss > 60 || y < 1970 || y > 9999) {
    return 0;
  }
  return DaysFromCivil(y, static_cast<unsigned>(month), static_cast<unsigned>(d)) * 86400 +
         hh * 3600 + mm * 60 + ss;
}

std::string HttpDate(std::int64_t unixSeconds) {
  std::int64_t days = unixSeconds / 86400;
  std::int64_t rest = unixSeconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  std::int64_t y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(days, &y, &m, &d);
  char out[64];
  std::snprintf(out, sizeof out, "%s, %02u %s %04lld %02d:%02d:%02d GMT",
                kDays[((days % 7) + 7) % 7], d, kMonths[m - 1], static_cast<long long>(y),
                static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                static_cast<int>(rest % 60));
  return out;
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

#include "http/header_values.h"

#include <cstdio>
#include <limits>

#include "http/header_list.h"

namespace tovi::http {
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

// 1..12 for a month name judged by its first three letters in any case; 0 for none.
int MonthIndex(const char* name) {
  const std::string abbreviation = std::string(name).substr(0, 3);
  for (int i = 0; i < 12; ++i)
    if (SameText(abbreviation, kMonths[i])) return i + 1;
  return 0;
}

}  // namespace

std::optional<std::int64_t> ParseInt64(const std::string& text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  if (i == text.size()) return std::nullopt;
  std::uint64_t value = 0;
  const std::uint64_t limit =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (limit - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
}

std::optional<std::int32_t> ParseInt32(const std::string& text) {
  const std::optional<std::int64_t> value = ParseInt64(text);
  if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
      *value > std::numeric_limits<std::int32_t>::max())
    return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

std::int64_t ContentLengthValue(const std::string& text) {
  const std::optional<std::int64_t> length = ParseInt64(Trim(text));
  return length && *length >= 0 ? *length : -1;
}

bool ForEachListElement(std::string_view value,
                        const std::function<bool(std::string_view element)>& take) {
  for (;;) {
    const std::size_t comma = value.find(',');
    std::string_view element = value.substr(0, comma);
    const std::size_t begin = element.find_first_not_of(" \t");
    if (begin != std::string_view::npos) {
      element = element.substr(begin, element.find_last_not_of(" \t") - begin + 1);
      if (!take(element)) return false;
    }
    if (comma == std::string_view::npos) return true;
    value.remove_prefix(comma + 1);
  }
}

bool EndsChunked(std::string_view transferCodings) {
  bool chunked = false;
  ForEachListElement(transferCodings, [&chunked](std::string_view coding) {
    chunked = SameText(coding, "chunked");
    return true;
  });
  return chunked;
}

std::int64_t ParseHttpDate(const std::string& text) {
  // Most requests have no date header: three scans of an empty text cost more than the rest
  // of reading their head.
  if (text.empty()) return 0;
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
  // Every field in range, negatives too: a peer's "01:-826772594:37" must not overflow.
  if (month == 0 || d < 1 || d > 31 || hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 ||
      ss > 60 || y < 1970 || y > 9999) {
    return 0;
  }
  return DaysFromCivil(y, static_cast<unsigned>(month), static_cast<unsigned>(d)) * 86400 +
         hh * 3600 + mm * 60 + ss;
}

std::string FormatHttpDate(std::int64_t unixSeconds) {
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

}  // namespace tovi::http

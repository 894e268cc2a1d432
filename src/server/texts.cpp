#include "server/texts.h"

#include <algorithm>

#include "http/coding.h"

namespace tovi::server {

CharSet MakeCharSet(std::string_view chars) {
  CharSet set;
  for (char c : chars) set.set(static_cast<unsigned char>(c));
  return set;
}

std::vector<std::string> SplitByChars(const std::string& text, const CharSet& separators) {
  std::vector<std::string> pieces;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    while (pos < text.size() && !separators.test(static_cast<unsigned char>(text[pos]))) ++pos;
    pieces.push_back(text.substr(start, pos - start));
    if (pos < text.size()) ++pos;
  }
  while (pieces.size() < 3) pieces.emplace_back();
  return pieces;
}

std::size_t LastPos(std::string_view part, std::string_view text) {
  if (part.empty()) return 0;
  const std::size_t at = text.rfind(part);
  return at == std::string_view::npos ? 0 : at + 1;
}

std::string FormatSizeLabel(std::int64_t bytes, const std::string& decimalSeparator) {
  const std::uint64_t size = bytes < 0 ? 0 : static_cast<std::uint64_t>(bytes);
  // k > 1024 switches to megabytes; integer hundredths keep the rounding exact at any size.
  const bool megabytes = size > 1024u * 1024u;
  const std::uint64_t unit = megabytes ? 1024u * 1024u : 1024u;
  const std::uint64_t whole = size / unit;
  const std::uint64_t rest = size % unit;
  std::uint64_t hundredths = whole * 100 + rest * 100 / unit;
  const std::uint64_t remainder = rest * 100 % unit;
  if (remainder * 2 > unit || (remainder * 2 == unit && hundredths % 2 == 1)) ++hundredths;
  std::string text = std::to_string(hundredths / 100);
  const unsigned fraction = static_cast<unsigned>(hundredths % 100);
  if (fraction != 0) {
    text += decimalSeparator;
    text += static_cast<char>('0' + fraction / 10);
    if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
  }
  return text + (megabytes ? "MB" : "KB");
}

namespace {

bool IsControl(char c) { return static_cast<unsigned char>(c) < 0x20; }

bool MustEncodeInItem(unsigned char c) {
  return c == '%' || c == '&' || c == '+' || c == '#' || c == '?' || IsControl(static_cast<char>(c));
}

bool MustEncodeInPosixItem(unsigned char c) { return MustEncodeInItem(c) || c == '\\'; }

}  // namespace

std::string EncodeUrlItem(const std::string& item, char separator) {
  return http::PercentEncode(item, separator == '/' ? MustEncodeInPosixItem : MustEncodeInItem);
}

std::string M3uEntry(const std::string& title, const std::string& url) {
  std::string shown = title;
  std::replace_if(shown.begin(), shown.end(), IsControl, ' ');
  return "#EXTINF:-1," + shown + kPlaylistLineEnd + url + kPlaylistLineEnd;
}

}  // namespace tovi::server

#include "server/texts.h"

#include <array>

#include "platform/codepage.h"
#include "platform/utf8.h"

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

std::string LastPathComponent(const std::string& path, char separator) {
  if (!path.empty() && path.back() == separator) {
    const std::string_view body(path.data(), path.size() - 1);
    const std::size_t before = body.rfind(separator);
    return std::string(before == std::string_view::npos ? body : body.substr(before + 1));
  }
  const std::size_t last = path.rfind(separator);
  return last == std::string::npos ? path : path.substr(last + 1);
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

std::string EncodeUrlItem(const std::string& item) {
  std::string out;
  out.reserve(item.size());
  for (char c : item) {
    switch (c) {
      case '%': out += "%25"; break;
      case '&': out += "%26"; break;
      case '+': out += "%2B"; break;
      case '#': out += "%23"; break;
      case '?': out += "%3F"; break;
      default: out += c;
    }
  }
  return out;
}

std::string M3uEntry(const std::string& title, const std::string& url) {
  return "#EXTINF:-1," + title + kPlaylistLineEnd + url + kPlaylistLineEnd;
}

namespace {

std::string WithSeparators(std::string path, PathStyle style) {
  if (style == PathStyle::Windows) {
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
  }
  return path;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A name the system takes for a device, wherever it stands: what precedes the first "." (the
// extension does not matter), trailing blanks ignored, in any letter case.
bool IsDeviceName(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = AsciiUpper(c);
  static constexpr std::array<std::string_view, 6> kNamed = {"CON", "PRN", "AUX", "NUL",
                                                             "CONIN$", "CONOUT$"};
  for (std::string_view device : kNamed) {
    if (base == device) return true;
  }
  if (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0) return false;
  const std::string_view number = std::string_view(base).substr(3);
  if (number.size() == 1) return number[0] >= '0' && number[0] <= '9';
  return number == "\xC2\xB9" || number == "\xC2\xB2" || number == "\xC2\xB3";  // ¹ ² ³
}

}  // namespace

bool StaysOnLocalDrives(std::string_view path, PathStyle style) {
  if (path.find('\0') != std::string_view::npos) return false;
  if (style == PathStyle::Posix) return true;
  // "\\host\share", "\\?\..." and "\\.\device" all start with two separators.
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return false;
  if (path.size() >= 4 && IsSeparator(path[0]) && path.substr(1, 2) == "??" &&
      IsSeparator(path[3])) {
    return false;  // the system's own object names
  }
  // ":" too: "C:nul" is the device, and so is a stream "x:con" as far as this check goes.
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = start;
    while (end < path.size() && !IsSeparator(path[end]) && path[end] != ':') ++end;
    if (IsDeviceName(path.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

std::string RequestFilePath(const std::string& requestPath, PathStyle style,
                            const std::function<bool(const std::string&)>& fileExists) {
  const auto localFile = [&](const std::string& p) {
    return StaysOnLocalDrives(p, style) && fileExists(p);
  };
  std::string path = WithSeparators(text::AnsiToUtf8(requestPath), style);
  if (!localFile(path)) {
    path = text::IsWellFormedUtf8(requestPath) ? WithSeparators(requestPath, style) : "";
  }
  if (style == PathStyle::Windows && !path.empty()) path.erase(0, 1);
  return path;
}

}  // namespace tovi::server

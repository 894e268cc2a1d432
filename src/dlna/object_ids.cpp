#include "dlna/object_ids.h"

#include <array>
#include <cstdint>

#include "platform/ascii.h"
#include "platform/utf8.h"

namespace tovi::dlna {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

int SextetOf(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

// Strict: one text, one id. Unused low bits must be zero, and a lone last character (length 1
// mod 4) carries no whole byte.
std::optional<std::string> DecodeBase64Url(std::string_view id) {
  if (id.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(id.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : id) {
    const int sextet = SextetOf(c);
    if (sextet < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(sextet);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  if ((bits & ((1u << count) - 1)) != 0) return std::nullopt;
  return out;
}

// Drive letters in any case on Windows; byte for byte on POSIX.
bool StartsWithDrive(std::string_view path, std::string_view drive, local::PathStyle style) {
  if (path.size() < drive.size()) return false;
  for (std::size_t i = 0; i < drive.size(); ++i) {
    const char a = path[i], b = drive[i];
    if (a == b) continue;
    if (style == local::PathStyle::Windows && text::LowerAscii(a) == text::LowerAscii(b)) continue;
    return false;
  }
  return true;
}

// The part after the drive: names joined by the separator, each a real name.
bool NamesAreSound(std::string_view rest, const PathRules& rules) {
  const bool windows = rules.style == local::PathStyle::Windows;
  const char other = rules.separator == '/' ? '\\' : '/';
  if (windows && rest.find(other) != std::string_view::npos) return false;
  if (windows && rest.find(':') != std::string_view::npos) return false;
  std::size_t start = 0;
  while (start < rest.size()) {
    std::size_t end = rest.find(rules.separator, start);
    if (end == std::string_view::npos) end = rest.size();
    const std::string_view name = rest.substr(start, end - start);
    if (name.empty() || name == "." || name == "..") return false;
    // Windows drops trailing dots and spaces from a name: ". ." or "..." would be ".." or ".".
    if (windows && name.find_first_not_of(". ") == std::string_view::npos) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

std::string ObjectIdOfPath(std::string_view path) {
  std::string id;
  id.reserve((path.size() * 4 + 2) / 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (unsigned char byte : path) {
    bits = (bits << 8) | byte;
    count += 8;
    while (count >= 6) {
      count -= 6;
      id += kAlphabet[(bits >> count) & 63];
    }
  }
  if (count > 0) id += kAlphabet[(bits << (6 - count)) & 63];
  return id;
}

std::optional<std::string> PathOfObjectId(std::string_view id, const PathRules& rules) {
  if (id.empty() || id == kRootId || id.size() > (kMaxObjectPathBytes * 4 + 2) / 3) {
    return std::nullopt;
  }
  std::optional<std::string> path = DecodeBase64Url(id);
  if (!path || path->empty()) return std::nullopt;
  const bool windows = rules.style == local::PathStyle::Windows;
  if (windows && !text::IsWellFormedUtf8(*path)) return std::nullopt;
  if (!local::StaysOnLocalDrives(*path, rules.style)) return std::nullopt;
  for (const std::string& drive : rules.drives) {
    if (!StartsWithDrive(*path, drive, rules.style)) continue;
    if (NamesAreSound(std::string_view(*path).substr(drive.size()), rules)) return path;
  }
  return std::nullopt;
}

bool IsDrive(std::string_view path, const PathRules& rules) {
  for (const std::string& drive : rules.drives) {
    if (path.size() == drive.size() && StartsWithDrive(path, drive, rules.style)) return true;
  }
  return false;
}

std::string ParentIdOf(std::string_view path, const PathRules& rules) {
  if (IsDrive(path, rules)) return kRootId;
  std::string_view rest = path;
  if (!rest.empty() && rest.back() == rules.separator) rest.remove_suffix(1);
  const std::size_t cut = rest.rfind(rules.separator);
  if (cut == std::string_view::npos) return kRootId;
  return ObjectIdOfPath(rest.substr(0, cut + 1));
}

}  // namespace tovi::dlna

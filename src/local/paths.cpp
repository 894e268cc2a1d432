#include "local/paths.h"

#include <array>

#include "platform/ascii.h"
#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/utf8.h"

namespace tovi::local {

std::string LastPathComponent(const std::string& path, char separator) {
  if (!path.empty() && path.back() == separator) {
    const std::string_view body(path.data(), path.size() - 1);
    const std::size_t before = body.rfind(separator);
    return std::string(before == std::string_view::npos ? body : body.substr(before + 1));
  }
  const std::size_t last = path.rfind(separator);
  return last == std::string::npos ? path : path.substr(last + 1);
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

// A name the system takes for a device, wherever it stands: what precedes the first "." (the
// extension does not matter), trailing blanks ignored, in any letter case.
bool IsDeviceName(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = text::UpperAscii(c);
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
  // A path from a drive's root goes to the system in the \\?\ form, where every name is a name:
  // "C:\Films\Con.Air.1997.mkv" is the film, not the console. Any other path is read the usual
  // way, and a device name there opens the device.
  const char letter = static_cast<char>(path.empty() ? 0 : path[0] | 0x20);
  const bool fromDriveRoot =
      path.size() >= 3 && letter >= 'a' && letter <= 'z' && path[1] == ':' && IsSeparator(path[2]);
  if (fromDriveRoot) return true;
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

std::string RequestFolderPath(const std::string& query, PathStyle style) {
  return style == PathStyle::Posix || text::IsWellFormedUtf8(query) ? query : std::string();
}

bool IsFolderPath(std::string_view path) {
  return !path.empty() && (path.back() == '/' || path.back() == '\\');
}

std::string ExtensionOf(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  // "/media/x.y/film" has no extension: the dot is a folder's.
  const std::size_t slash = name.find_last_of("/\\");
  if (dot == std::string_view::npos || dot == 0 || (slash != std::string_view::npos && dot < slash + 2)) {
    return std::string();
  }
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) c = text::LowerAscii(c);
  return extension;
}

std::string_view StemOf(std::string_view path) {
  const std::size_t extension = ExtensionOf(path).size();
  return extension == 0 ? path : path.substr(0, path.size() - extension - 1);
}

std::string_view FileNameOf(std::string_view path) {
  const std::size_t separator = path.rfind(fs::kSeparator);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

}  // namespace tovi::local

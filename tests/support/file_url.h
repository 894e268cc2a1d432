// The URL path by which the app asks the media server for a local file, as the TV app sends it:
// "/C:/dir/f" for C:\dir\f, the path itself on POSIX; spaces, "%", "?", "#", "&", "+" and bytes
// above 0x7F percent-encoded.
#pragma once
#include <string>

#include "platform/files.h"

namespace tovi::testing {

inline std::string PercentEncoded(const std::string& bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : bytes) {
    if (c <= ' ' || c >= 0x80 || c == '%' || c == '+' || c == '#' || c == '?' || c == '&') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

inline std::string FileUrlPath(const std::string& localPath) {
  std::string p = localPath;
  if (fs::kSeparator == '\\') {
    for (char& c : p) if (c == '\\') c = '/';
    p = "/" + p;
  }
  return PercentEncoded(p);
}

}  // namespace tovi::testing

// Letter case of ASCII text: the case that names, extensions, header fields, drive letters and
// language tags ignore. Bytes outside A-Z and a-z (UTF-8 among them) stay as they are, so no
// locale can change what matches. Pure, safe from any thread.
#pragma once
#include <cstddef>
#include <string_view>

namespace tovi::text {

constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether a and b are the same text but for ASCII letter case.
constexpr bool SameAsciiText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace tovi::text

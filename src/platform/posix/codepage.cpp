// POSIX: the system code page is UTF-8, so conversions only drop what is not well-formed.
#include "platform/codepage.h"

#include "platform/utf8.h"

namespace tovi::text {

std::string AnsiToUtf8(const std::string& ansi) { return ansi; }

std::string Utf8ToAnsi(const std::string& utf8) {
  std::u32string codePoints;
  if (DecodeUtf8(utf8, &codePoints)) return utf8;
  std::string out;
  for (char32_t cp : codePoints) AppendUtf8(cp, &out);
  return out;
}

bool Utf8ToAnsiExact(const std::string& utf8, std::string* ansi) {
  if (!IsWellFormedUtf8(utf8)) return false;
  *ansi = utf8;
  return true;
}

}  // namespace tovi::text

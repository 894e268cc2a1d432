// POSIX: the system code page is UTF-8, so conversions only drop what is not well-formed.
#include "platform/codepage.h"

#include "platform/utf8.h"

namespace tovi::text {

namespace {
std::string WellFormedPart(const std::string& utf8, bool* wellFormed) {
  std::u32string codePoints;
  *wellFormed = DecodeUtf8(utf8, &codePoints);
  if (*wellFormed) return utf8;
  std::string out;
  for (char32_t cp : codePoints) AppendUtf8(cp, &out);
  return out;
}
}  // namespace

std::string AnsiToUtf8(const std::string& ansi) { return ansi; }

std::string Utf8ToAnsi(const std::string& utf8) {
  bool wellFormed;
  return WellFormedPart(utf8, &wellFormed);
}

std::string Utf8ToAnsiStrict(const std::string& utf8) {
  bool wellFormed;
  std::string out = WellFormedPart(utf8, &wellFormed);
  return wellFormed ? out : std::string();
}

}  // namespace tovi::text

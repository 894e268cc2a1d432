// Windows: the system (ANSI) code page, converted through UTF-16.
#include "platform/codepage.h"

#include <windows.h>

#include "platform/utf8.h"
#include "platform/win32/wide.h"

namespace tovi::text {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendWide(char32_t cp, std::wstring* wide) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    wide->push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
    wide->push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    wide->push_back(static_cast<wchar_t>(cp));
  }
}

}  // namespace

std::wstring Utf8ToWide(const std::string& utf8) {
  std::wstring wide;
  wide.reserve(utf8.size());
  for (std::size_t pos = 0; pos < utf8.size();) {
    char32_t cp;
    const std::size_t length = Utf8SequenceLength(utf8, pos, &cp);
    AppendWide(length == 0 ? kReplacement : cp, &wide);
    pos += length == 0 ? 1 : length;
  }
  return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
  std::string out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = static_cast<char16_t>(wide[i]);
    if (cp >= 0xD800 && cp <= 0xDFFF) {
      const char32_t low = i + 1 < wide.size() ? static_cast<char16_t>(wide[i + 1]) : 0;
      if (cp <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        cp = kReplacement;
      }
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

std::wstring AnsiToWide(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int size = static_cast<int>(ansi.size());
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), size, wide.data(), n);
  return wide;
}

std::string WideToAnsi(const std::wstring& wide, bool* lossy) {
  if (lossy != nullptr) *lossy = false;
  if (wide.empty()) return {};
  // A system whose ANSI page is UTF-8 holds every character, and refuses the default-character
  // arguments.
  if (GetACP() == CP_UTF8) return WideToUtf8(wide);
  // No best fit: "é" must not turn into "e", nor a full-width "＼" into a path separator.
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, flags, wide.data(), size, nullptr, 0, "?", nullptr);
  std::string ansi(n, '\0');
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, flags, wide.data(), size, ansi.data(), n, "?", &usedDefault);
  if (lossy != nullptr) *lossy = usedDefault != FALSE;
  return ansi;
}

std::string AnsiToUtf8(const std::string& ansi) { return WideToUtf8(AnsiToWide(ansi)); }

std::string Utf8ToAnsi(const std::string& utf8) {
  std::u32string codePoints;
  DecodeUtf8(utf8, &codePoints);
  std::wstring wide;
  for (char32_t cp : codePoints) AppendWide(cp, &wide);
  return WideToAnsi(wide);
}

bool Utf8ToAnsiExact(const std::string& utf8, std::string* ansi) {
  if (!IsWellFormedUtf8(utf8)) return false;
  bool lossy = false;
  *ansi = WideToAnsi(Utf8ToWide(utf8), &lossy);
  return !lossy;
}

}  // namespace tovi::text

// Windows: the system (ANSI) code page, converted through UTF-16.
#include "platform/codepage.h"

#include <windows.h>

#include "platform/utf8.h"
#include "platform/win32/wide.h"

namespace tovi::text {

namespace {
std::wstring CodePointsToWide(const std::u32string& codePoints) {
  std::wstring wide;
  for (char32_t cp : codePoints) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      wide.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(cp));
    }
  }
  return wide;
}
}  // namespace

std::wstring AnsiToWide(const std::string& ansi) {
  if (ansi.empty()) return {};
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
  std::wstring wide(n, L'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), n);
  return wide;
}

std::string WideToAnsi(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, "?", nullptr);
  std::string ansi(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), n, "?",
                      nullptr);
  return ansi;
}

std::string WideToUtf8(const std::wstring& wide) {
  std::string out;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t cp = static_cast<char16_t>(wide[i]);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
      const char32_t low = static_cast<char16_t>(wide[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    AppendUtf8(cp, &out);
  }
  return out;
}

std::wstring DisplayToWide(const std::string& text) {
  std::wstring wide;
  std::string ansiRun;
  const auto flush = [&] {
    wide += AnsiToWide(ansiRun);
    ansiRun.clear();
  };
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp;
    const std::size_t length = Utf8SequenceLength(text, pos, &cp);
    if (length == 0) {
      ansiRun += text[pos++];
      continue;
    }
    flush();
    wide += CodePointsToWide(std::u32string(1, cp));
    pos += length;
  }
  flush();
  return wide;
}

std::string AnsiToUtf8(const std::string& ansi) { return WideToUtf8(AnsiToWide(ansi)); }

std::string Utf8ToAnsi(const std::string& utf8) {
  std::u32string codePoints;
  DecodeUtf8(utf8, &codePoints);
  return WideToAnsi(CodePointsToWide(codePoints));
}

std::string Utf8ToAnsiStrict(const std::string& utf8) {
  std::u32string codePoints;
  if (!DecodeUtf8(utf8, &codePoints)) return {};
  return WideToAnsi(CodePointsToWide(codePoints));
}

}  // namespace tovi::text

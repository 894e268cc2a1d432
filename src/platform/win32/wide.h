// Conversions between byte strings and the wide API of Windows (win32 implementation only).
#pragma once
#include <string>

namespace tovi::text {

std::wstring AnsiToWide(const std::string& ansi);
std::string WideToAnsi(const std::wstring& wide);
std::string WideToUtf8(const std::wstring& wide);

// Texts shown by the GUI mix the program's fixed texts (UTF-8) with data in the system code page
// (paths, device names): every well-formed UTF-8 sequence is taken as such, every other byte as
// a character of the system code page.
std::wstring DisplayToWide(const std::string& text);

}  // namespace tovi::text

// Conversions between the program's byte strings and the wide API of Windows (win32
// implementation only). Pure, safe from any thread.
#pragma once
#include <string>

namespace tovi::text {

// UTF-8 texts and paths; a malformed byte becomes U+FFFD (never a guess at another encoding).
std::wstring Utf8ToWide(const std::string& utf8);
// Unpaired surrogates (which file names may hold) become U+FFFD.
std::string WideToUtf8(const std::wstring& wide);

// The system (ANSI) code page.
std::wstring AnsiToWide(const std::string& ansi);
// Characters the code page lacks become "?"; *lossy (when given) tells whether any did.
std::string WideToAnsi(const std::wstring& wide, bool* lossy = nullptr);

}  // namespace tovi::text

// Text conversion between UTF-8, the program's text encoding, and the system's ANSI code page
// (the system code page on Windows, for example Windows-1251; UTF-8 itself on POSIX), the
// encoding of the settings file, the sync folder and the list service's exchanges.
// Pure and thread-safe.
#pragma once
#include <string>

namespace tovi::text {

// ANSI bytes to UTF-8.
std::string AnsiToUtf8(const std::string& ansi);

// UTF-8 to ANSI; characters the code page lacks become its default character ("?"), never a
// look-alike. Malformed sequences are skipped.
std::string Utf8ToAnsi(const std::string& utf8);

// UTF-8 to ANSI without loss: false (and *ansi unspecified) when utf8 is malformed or holds a
// character the code page lacks.
bool Utf8ToAnsiExact(const std::string& utf8, std::string* ansi);

}  // namespace tovi::text

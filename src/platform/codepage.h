// Text conversion between UTF-8 and the system's ANSI code page (the system code page on
// Windows, for example Windows-1251; UTF-8 itself on POSIX). Pure and thread-safe.
#pragma once
#include <string>

namespace tovi::text {

// ANSI bytes to UTF-8.
std::string AnsiToUtf8(const std::string& ansi);

// UTF-8 to ANSI; characters the code page lacks become its default character ("?").
// Malformed sequences are skipped.
std::string Utf8ToAnsi(const std::string& utf8);

// Strict decoding of request paths and query items: a malformed sequence anywhere makes the
// whole result empty; otherwise as Utf8ToAnsi.
std::string Utf8ToAnsiStrict(const std::string& utf8);

}  // namespace tovi::text

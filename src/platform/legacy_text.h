// Text that the PC's older programs wrote in its 8-bit code page (subtitles, above all), to
// UTF-8. Windows: the system's ANSI code page (Windows-1251 on a Russian Windows); where that is
// UTF-8 itself, Windows-1251. POSIX: the 8-bit charset the locale names (the first of LC_ALL,
// LC_CTYPE, LANG that is set: "ru_RU.KOI8-R", "de_DE.ISO-8859-15"), else Windows-1251, the
// charset of most such files the program's users hold.
// Never fails: a byte the code page leaves undefined becomes U+FFFD. Safe from any thread.
#pragma once
#include <string>

namespace tovi::text {

std::string LegacyTextToUtf8(const std::string& bytes);

}  // namespace tovi::text

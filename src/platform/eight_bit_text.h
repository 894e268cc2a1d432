// The 8-bit charsets that text files of Russian and European PCs are written in (Windows-1251,
// KOI8-R, DOS's CP866, ISO-8859-5, Windows-1252, ...), decoded to UTF-8 by tables of our own,
// and which of them a POSIX locale name ("ru_RU.KOI8-R") stands for. The base of the POSIX side of
// legacy_text.h, and usable on both platforms.
// Pure, constant data; safe from any thread.
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace tovi::text {

struct EightBitCharset {
  const char* name;                     // "KOI8-R"
  std::array<const char*, 2> aliases;   // upper case, no "-" or "_": "KOI8R" (nullptr: none)
  std::array<char16_t, 128> high;       // the characters of bytes 0x80 to 0xFF; U+FFFD: none
};

// The charset most subtitles and texts of the program's users are written in.
const EightBitCharset& Windows1251();

// The charset of that name or alias, in any case and with or without "-"/"_" ("koi8-r",
// "CP866"); nullptr for one not in the tables.
const EightBitCharset* EightBitCharsetNamed(std::string_view name);

// The 8-bit charset a locale name's codeset part names ("ru_RU.KOI8-R@x", "en_US.iso885915",
// "ru_RU.CP1251"), in any case and with or without "-"/"_"; nullptr for a name without one
// ("C", "ru_RU"), for UTF-8 and for a charset not in the tables.
const EightBitCharset* EightBitCharsetOfLocale(std::string_view localeName);

// The charset a POSIX locale leaves older texts in: the 8-bit one it names, else Windows-1251.
const EightBitCharset& LegacyCharsetOfLocale(std::string_view localeName);

// Every byte as its character: ASCII stays, a byte the charset leaves undefined is U+FFFD.
std::string EightBitToUtf8(std::string_view bytes, const EightBitCharset& charset);

}  // namespace tovi::text

// A subtitle's text as players read it: UTF-8, whatever the PC's programs wrote it in. Most
// subtitles of the program's users are in the PC's 8-bit code page (Windows-1251), which TVs
// show garbled; some are UTF-16. Pure; safe from any thread.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tovi::dlna {

// A larger subtitle is served as it is: its conversion holds it and its text (up to three times
// its size) in memory for the answer, and no real subtitle comes near this size.
inline constexpr std::uint64_t kMaxConvertedSubtitleBytes = 8ull << 20;

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Bytes of the PC's 8-bit code page to UTF-8 (text::LegacyTextToUtf8 in the program).
using LegacyDecoder = std::function<std::string(const std::string&)>;

// The text in well-formed UTF-8 (legacy must give that), at most three times the bytes' size
// and a BOM: after a UTF-16 BOM (LE or BE), decoded from UTF-16 (an unpaired surrogate is
// U+FFFD, an odd last byte is dropped); else, after a UTF-8 BOM if there is one, well-formed
// UTF-8 as it is, anything else decoded by legacy (where the PC's charset is Cyrillic, by the
// one of Windows-1251, KOI8-R and CP866 that reads it as the most Russian); a file holding both,
// line by line, a line of UTF-8 with a few bytes that are none (a sign pasted from another
// program, a character cut off) keeping its UTF-8, those bytes decoded as the 8-bit text. The answer starts with a UTF-8 BOM when withBom (older players read UTF-8 only
// so), else it has none, also where the file had one, so that a player gets every subtitle
// alike.
// nullopt (serve the bytes as they are): more than kMaxConvertedSubtitleBytes, or a NUL byte
// without a UTF-16 BOM, which no text holds (a VobSub's pictures, UTF-16 that does not say so).
std::optional<std::string> SubtitleTextAsUtf8(std::string_view bytes, bool withBom,
                                              const LegacyDecoder& legacy);

}  // namespace tovi::dlna

// Text helpers of the request handler: splitting announcements, path pieces, size labels,
// playlist entries and URL items. Pure, safe from any thread.
#pragma once
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::server {

using CharSet = std::bitset<256>;
CharSet MakeCharSet(std::string_view chars);

// Splits text at every character of the set; always at least three pieces (missing ones are
// empty). Two separators in a row give an empty piece; a separator at the very end does not
// start a further piece.
std::vector<std::string> SplitByChars(const std::string& text, const CharSet& separators);

// 1-based position of the last occurrence of part in text; 0 when there is none.
std::size_t LastPos(std::string_view part, std::string_view text);

// Size label of a playlist entry: kilobytes up to 1024 KB, then megabytes, rounded to two
// decimals (exact halves to even), shortest form, no space before the unit: "0.49KB", "3MB".
// The decimal separator is the user's (Windows: "," on a Russian system).
std::string FormatSizeLabel(std::int64_t bytes, const std::string& decimalSeparator);

// Percent-encodes what the request decoding would otherwise change or cut: "%", "&", "+", "#",
// "?", the control bytes (a line break would end the playlist's line) and, where "/" is the
// separator, "\" (the decoding reads it as "/"). Everything else passes unchanged, so ordinary
// names keep their plain URLs, and Windows paths their backslashes.
std::string EncodeUrlItem(const std::string& item, char separator);

// Line break of generated playlists: LF then CR, which the TV app expects.
inline constexpr const char* kPlaylistLineEnd = "\n\r";
inline constexpr const char* kPlaylistHeader = "#EXTM3U\n\r";

// One playlist entry: "#EXTINF:-1," + title, then the URL, each line ended by LF CR. A control
// byte in the title (POSIX names may hold a line break) is shown as a space.
std::string M3uEntry(const std::string& title, const std::string& url);

}  // namespace tovi::server

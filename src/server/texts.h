// Text helpers of the request handler: splitting announcements, path pieces, size labels,
// playlist entries and URL items, and turning a request path into a local file path.
// Pure (the file-exists test is passed in), safe from any thread.
#pragma once
#include <bitset>
#include <cstdint>
#include <functional>
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

// The last component of a path: for a path ending with the separator, the name before it
// ("C:\Films\Sub\" gives "Sub", "C:\" gives "C:"); otherwise the text after the last separator.
std::string LastPathComponent(const std::string& path, char separator);

// Size label of a playlist entry: kilobytes up to 1024 KB, then megabytes, rounded to two
// decimals (exact halves to even), shortest form, no space before the unit: "0.49KB", "3MB".
// The decimal separator is the user's (Windows: "," on a Russian system).
std::string FormatSizeLabel(std::int64_t bytes, const std::string& decimalSeparator);

// Percent-encodes what the request decoding would otherwise change or cut: "%", "&", "+", "#"
// and "?". Everything else passes unchanged, so ordinary names keep their plain URLs.
std::string EncodeUrlItem(const std::string& item);

// Line break of generated playlists: LF then CR, which the TV app expects.
inline constexpr const char* kPlaylistLineEnd = "\n\r";
inline constexpr const char* kPlaylistHeader = "#EXTM3U\n\r";

// One playlist entry: "#EXTINF:-1," + title, then the URL, each line ended by LF CR.
std::string M3uEntry(const std::string& title, const std::string& url);

// How a request path names a file. Windows: "/C:/Films/a.mkv" is C:\Films\a.mkv (the leading
// "/" is dropped). Posix: the request path is the absolute path itself.
enum class PathStyle { Windows, Posix };

// Whether a path taken from the network stays on the PC's own drives, so that the file system
// may be asked about it: every path from a request passes here before any file or folder call.
// Both styles: no NUL, since the system's calls end a name there ("COM1\0" would name the
// device, "a\0/../" the folder a). Windows ("/" and "\" alike): no UNC path ("\\host\share",
// which would make the PC connect and log on to any host), no "\\?\", "\\.\" or "\??\"
// prefix, no device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, also with a superscript 1-3,
// CONIN$, CONOUT$) as any component, with or without an extension. Posix: every other path does
// (devices and FIFOs are refused as files by the file layer).
bool StaysOnLocalDrives(std::string_view path, PathStyle style);

// The file path text (UTF-8) of a request: the raw path read in the ANSI code page, if a file
// exists under it, else the path itself when it is well-formed UTF-8 (else empty); separators
// made native. fileExists is asked only about paths that stay on the local drives.
std::string RequestFilePath(const std::string& requestPath, PathStyle style,
                            const std::function<bool(const std::string&)>& fileExists);

}  // namespace tovi::server

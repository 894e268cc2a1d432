// Path rules of the PC's own files: how a request path names a local file, which paths from the
// network may reach the file system at all, and the pieces of a path (its last component, its
// file name, extension and stem).
// Pure (the file-exists test is passed in), safe from any thread.
#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace tovi::local {

// The last component of a path: for a path ending with the separator, the name before it
// ("C:\Films\Sub\" gives "Sub", "C:\" gives "C:"); otherwise the text after the last separator.
std::string LastPathComponent(const std::string& path, char separator);

// How a request path names a file. Windows: "/C:/Films/a.mkv" is C:\Films\a.mkv (the leading
// "/" is dropped). Posix: the request path is the absolute path itself.
enum class PathStyle { Windows, Posix };

// Whether a path taken from the network stays on the PC's own drives, so that the file system
// may be asked about it: every path from a request passes here before any file or folder call.
// Both styles: no NUL, since the system's calls end a name there ("COM1\0" would name the
// device, "a\0/../" the folder a). Windows ("/" and "\" alike): no UNC path ("\\host\share",
// which would make the PC connect and log on to any host), no "\\?\", "\\.\" or "\??\"
// prefix, and unless it is from a drive's root ("C:\...", which the file layer opens in the
// \\?\ form, where a name is never a device) no device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9,
// also with a superscript 1-3, CONIN$, CONOUT$) as any component, with or without an extension.
// Posix: every other path does (devices and FIFOs are refused as files by the file layer).
bool StaysOnLocalDrives(std::string_view path, PathStyle style);

// The file path text (UTF-8) of a request: the raw path read in the ANSI code page, if a file
// exists under it, else the path itself when it is well-formed UTF-8 (else empty); separators
// made native. fileExists is asked only about paths that stay on the local drives.
std::string RequestFilePath(const std::string& requestPath, PathStyle style,
                            const std::function<bool(const std::string&)>& fileExists);

// The folder a "/treeview" query names. Windows: the query when it is well-formed UTF-8, else
// empty (the current drive's root). Posix: the query as it is, since a name there is bytes and
// the listing gives out a name that is not UTF-8 unchanged.
std::string RequestFolderPath(const std::string& query, PathStyle style);

// Whether a path names a folder, as the listings give one: it ends with a separator ("/" or "\").
bool IsFolderPath(std::string_view path);

// The extension of a name (after the last ".", none when the dot starts the name), lower case.
std::string ExtensionOf(std::string_view name);
// The path without "." and its extension (ExtensionOf's); the whole path when it has none.
std::string_view StemOf(std::string_view path);
// The file's name: the path after its last platform separator.
std::string_view FileNameOf(std::string_view path);

}  // namespace tovi::local

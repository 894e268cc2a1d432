// Object ids of the content tree: "0" is the root (the drives), every other id is the file's or
// folder's UTF-8 path in base64url without padding ([A-Za-z0-9_-] only, so it goes into a URL and
// a SOAP body as it is, and no id of a path is ever "0"). A folder's path ends with the separator,
// a file's does not, as the folder listings give them; so the id alone says which it is.
// An id from the network is a path from the network: it names something only when the path
// passes the same safety as a file request and stays inside one of the listed drives.
// Pure (the drives are passed in), safe from any thread.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "local/paths.h"

namespace tovi::dlna {

inline constexpr const char* kRootId = "0";
// The longest path an id may name: Windows' own limit for a path (32767 UTF-16 units) is at most
// three UTF-8 bytes each. A longer id is refused before it is decoded.
inline constexpr std::size_t kMaxObjectPathBytes = 32767 * 3;

struct PathRules {
  local::PathStyle style = local::PathStyle::Posix;
  char separator = '/';
  std::vector<std::string> drives;  // as ListDrives gives them, each ending with the separator
};

std::string ObjectIdOfPath(std::string_view path);

// The path an id names, or nothing: for "0", for an id that is not base64url of a path, and for
// a path that leaves the drives (relative, "." or ".." or empty components, other separators
// than the platform's) or fails StaysOnLocalDrives (NUL, UNC, device names). Windows style also
// refuses malformed UTF-8 and ":" past the drive's, which would name a file's stream.
std::optional<std::string> PathOfObjectId(std::string_view id, const PathRules& rules);

// Whether a path (a folder's with its separator) is one of the drives.
bool IsDrive(std::string_view path, const PathRules& rules);

// The id of the folder that holds path ("0" for a drive).
std::string ParentIdOf(std::string_view path, const PathRules& rules);

}  // namespace tovi::dlna

// The "/treeview" playlists: drives and folders as M3U text, names in UTF-8, lines ended by LF CR.
// The builders are pure; ListDrives, ListFolder and FileSizeText read the file system.
// Thread safety: all functions are independent and may run on any connection thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/media_port.h"

namespace tovi::server {

// Roots a user would browse (platform order), each ending with its separator.
std::vector<std::string> ListDrives();

// Paths of the folder's entries in file-system order (UTF-8, as the folder is): folders end
// with the separator; hidden and system entries, ".", ".." and the recycle bin are left out. A
// folder that cannot be read gives an empty list. A folder made of "/" only is the root "/".
// At most maxEntries of the folder's entries are read.
std::vector<std::string> ListFolder(std::string folder, char separator,
                                    std::size_t maxEntries = static_cast<std::size_t>(-1));

// Size label of the file at the UTF-8 path: "nf" when no file is there, "" when its size cannot
// be read. Never opens the file for writing.
std::string FileSizeText(const std::string& path, const std::string& decimalSeparator);

// The playlist of drive roots. The root "/" is asked for as "//", since "/" is the drive list.
std::string DrivePlaylist(const std::vector<std::string>& roots, const std::string& address);

// The playlist of a folder's items (as ListFolder gives them): folders first, then files with
// their size labels, each group in list order.
std::string FolderPlaylist(const std::vector<std::string>& items, const std::string& address,
                           char separator,
                           const std::function<std::string(const std::string&)>& sizeLabel);

}  // namespace tovi::server

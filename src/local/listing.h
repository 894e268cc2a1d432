// The PC's drives and a folder's entries, as the "/treeview" playlists and the media-server
// side's content tree both list them.
// Thread safety: independent calls; each reads the file system anew.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace tovi::local {

// Roots a user would browse (platform order), each ending with its separator.
std::vector<std::string> ListDrives();

// Paths of the folder's entries in file-system order (UTF-8, as the folder is): folders end
// with the separator; hidden and system entries, ".", ".." and the recycle bin are left out. A
// folder that cannot be read gives an empty list. A folder made of "/" only is the root "/".
// At most maxEntries of the folder's entries are read.
std::vector<std::string> ListFolder(std::string folder, char separator,
                                    std::size_t maxEntries = static_cast<std::size_t>(-1));

}  // namespace tovi::local

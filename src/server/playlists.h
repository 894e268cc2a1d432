// The "/treeview" playlists: drives and folders as M3U text, names in UTF-8, lines ended by LF CR.
// The builders are pure; FileSizeText reads the file system (the drives and folders listed
// come from local/listing.h).
// Thread safety: all functions are independent and may run on any connection thread.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "server/media_port.h"

namespace tovi::server {

// Size label of the file at the UTF-8 path: "nf" when no file is there, "" when its size cannot
// be read. Never opens the file for writing.
std::string FileSizeText(const std::string& path, const std::string& decimalSeparator);

// The playlist of drive roots, each ending with its separator ("C:\", "/media/usb/"). The root
// "/" is asked for as "//", since "/" is the drive list.
std::string DrivePlaylist(const std::vector<std::string>& roots, const std::string& address);

// The playlist of a folder's items (as local::ListFolder gives them): folders first, then files with
// their size labels, each group in list order. Once abandoned() is true no more labels are asked
// for and what is built so far is returned: nobody will read it, and each label costs a query of
// the file system, which for a folder of 200,000 files is seconds a switch-off would wait.
std::string FolderPlaylist(const std::vector<std::string>& items, const std::string& address,
                           char separator,
                           const std::function<std::string(const std::string&)>& sizeLabel,
                           const std::function<bool()>& abandoned = {});

}  // namespace tovi::server

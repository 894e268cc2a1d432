// The user's own media folders, as the system names them: on Windows the known folders Videos,
// Music, Pictures and Downloads, titled as the shell shows them on that PC ("Видео" on a
// Russian Windows); on POSIX the XDG user directories of $XDG_CONFIG_HOME/user-dirs.dirs
// (~/.config when unset) for videos, music, pictures and downloads, titled by their folder's
// name. Only folders that exist are given, in that order, each path ending with the separator
// and free of doubled separators; none is the home folder itself (XDG's way to say "unset").
// Nothing throws: a folder the system cannot name is left out.
// Thread safety: may be called from any thread (Windows initializes COM for the call).
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace tovi::fs {

struct MediaFolder {
  std::string path;   // UTF-8, ending with the separator
  std::string title;  // what the user sees the folder called
};

// user-dirs.dirs is a few lines; a larger file is not a user's and is not read.
inline constexpr std::size_t kMaxUserDirsBytes = 64 * 1024;

std::vector<MediaFolder> UserMediaFolders();

}  // namespace tovi::fs

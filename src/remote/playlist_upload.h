// Playlist upload: hands a playlist file (M3U or XML, sent as its bytes, UTF-8 stays UTF-8) to the
// TV that last announced itself, through the main site, and shows the site's answer.
// Runs on the GUI thread; the POST blocks it.
#pragma once
#include <functional>
#include <string>

#include "remote/service.h"

namespace tovi::remote {

// The service's packing of a text file: every line followed by "nxs10nxs13", the last one
// included. Lines end at LF or CR LF; a lone CR is dropped; byte 26 ends the file.
std::string PackPlaylistLines(const std::string& fileBytes);

// What the upload needs of the main window.
struct PlaylistUploadHost {
  std::string activeDevice;                                // "" while no TV has announced itself
  std::function<bool(std::string* path)> choosePlaylist;   // the file-open dialog (UTF-8 path);
                                                           // false: cancelled
  std::function<void(const std::string& text)> showMessage;
  Transport transport;
};

// The menu command. A file that cannot be read throws EInOutError before anything is sent;
// a failed request throws the client's exception. Neither is retried.
void UploadPlaylist(const PlaylistUploadHost& host);

}  // namespace tovi::remote

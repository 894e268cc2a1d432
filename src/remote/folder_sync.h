// Video folder sync: lists a chosen folder's whole tree, selects the entries whose path names a
// video or audio type, and posts them to the list service for the active TV. The folder is
// remembered (settings file, menu caption) and the media server is started shortly afterwards.
// Runs on the GUI thread; the listing lets the GUI handle messages between entries, the POST
// blocks.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "remote/service.h"

namespace tovi::remote {

// Appends every entry (UTF-8) under folder (UTF-8) matching mask ("" means "*.*"), depth first,
// a folder's own entry (with a trailing separator) directly before its contents. Hidden and
// system entries are included; folders that cannot be searched add nothing. A linked folder
// that leads back to one of its own ancestors is listed but not entered. pumpMessages runs once
// per entry.
void ListFolderTree(const std::string& folder, const std::string& mask,
                    std::vector<std::string>& list,
                    const std::function<void()>& pumpMessages = {});

// Whether a listed path is sent: it holds ".avi", ".mkv", ".mp4", ".mov", ".flv", ".mpeg" or
// ".mp3" anywhere, case-sensitive (so a folder "x.mkv" and all beneath it are sent).
bool IsSyncedMedia(const std::string& path);

// The selected entries (UTF-8) in the system code page, each followed by ";" unless it is the
// listing's last entry. An entry whose name the code page cannot hold is left out rather than
// sent mangled: the TV could not open it.
std::string JoinSyncList(const std::vector<std::string>& entries,
                         const std::function<void()>& pumpMessages = {});

// The folder chooser's title.
inline constexpr const char* kFolderChooserTitle = "Выберите папку с видео";

// What the sync needs of the main window. The chooser gives the folder in UTF-8; the folder is
// remembered, stored and sent in the system code page, as the settings file and the service
// have always had it.
struct FolderSyncHost {
  std::string activeDevice;                                      // "" while no TV announced itself
  std::function<bool(std::string* folder)> chooseFolder;         // false: cancelled
  std::function<void()> pumpMessages;
  std::function<void(const std::string& folder)> storeFolder;    // the remembered sync folder
  std::function<void(const std::string& folder)> writeSettings;  // throws EInOutError
  std::function<void(const std::string& folder)> showSyncFolder;  // the menu item's caption
  std::function<void()> enableServerStart;                       // the one-shot start timer
  std::function<std::string()> localAddress;
  std::function<void(const std::string& text)> showMessage;
  Transport transport;
};

// The menu command. A settings file that cannot be written stops it before the caption, the
// timer and the request; a failed request throws the client's exception after them.
void SyncVideoFolder(const FolderSyncHost& host);

}  // namespace tovi::remote

#include "remote/folder_sync.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <string_view>

#include "platform/codepage.h"
#include "platform/files.h"
#include "remote/service_hosts.h"

namespace tovi::remote {

namespace {
// What the folder sync sends the list service: names holding one of these, where it is. Not
// the media types of local/media_types.h, on purpose: the service has always been sent the paths
// these seven match as text, case and place alike (a folder "x.mkv" and all beneath it; no
// "FILM.MKV", no ".m4v"), and it and the TV app take that list as it is. The table's test of an
// extension would send another list.
constexpr std::array<std::string_view, 7> kSyncedExtensions = {".avi", ".mkv", ".mp4", ".mov",
                                                               ".flv", ".mpeg", ".mp3"};
}  // namespace

namespace {

// The folder's real location, or an empty path when it cannot be resolved.
std::filesystem::path RealFolder(const std::string& utf8Folder) {
  const std::u8string name(utf8Folder.begin(), utf8Folder.end());
  std::error_code error;
  std::filesystem::path real = std::filesystem::canonical(std::filesystem::path(name), error);
  return error ? std::filesystem::path() : real;
}

// realAncestors: the real locations of the folders being listed above this one. A link back to
// one of them is listed but not entered: it would repeat the tree until the path length gave
// out, and a few such links multiply the work beyond any end.
void ListFolderTreeBelow(const std::string& folder, const std::string& mask,
                         std::vector<std::string>& list,
                         const std::function<void()>& pumpMessages,
                         std::vector<std::filesystem::path>& realAncestors) {
  std::string base = folder;
  if (base.empty() || base.back() != fs::kSeparator) base += fs::kSeparator;
  for (const fs::DirEntry& entry : fs::FindEntries(base, mask, fs::kAttrAnyFile)) {
    if (pumpMessages) pumpMessages();
    if (!entry.IsDirectory()) {
      list.push_back(base + entry.name);
      continue;
    }
    if (entry.name == "." || entry.name == "..") continue;
    const std::string sub = base + entry.name + fs::kSeparator;
    list.push_back(sub);
    const std::filesystem::path real = RealFolder(sub);
    if (!real.empty() &&
        std::find(realAncestors.begin(), realAncestors.end(), real) != realAncestors.end()) {
      continue;
    }
    realAncestors.push_back(real);
    ListFolderTreeBelow(sub, mask, list, pumpMessages, realAncestors);
    realAncestors.pop_back();
  }
}

}  // namespace

void ListFolderTree(const std::string& folder, const std::string& mask,
                    std::vector<std::string>& list, const std::function<void()>& pumpMessages) {
  std::vector<std::filesystem::path> realAncestors{RealFolder(folder)};
  ListFolderTreeBelow(folder, mask.empty() ? "*.*" : mask, list, pumpMessages, realAncestors);
}

bool IsSyncedMedia(const std::string& path) {
  for (std::string_view type : kSyncedExtensions) {
    if (path.find(type) != std::string::npos) return true;
  }
  return false;
}

std::string JoinSyncList(const std::vector<std::string>& entries,
                         const std::function<void()>& pumpMessages) {
  std::string text;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (pumpMessages) pumpMessages();
    std::string ansi;
    if (!IsSyncedMedia(entries[i]) || !text::Utf8ToAnsiExact(entries[i], &ansi)) continue;
    text += ansi;
    // Keyed to the listing, not the selection: the text ends in ";" when the last entry is not
    // sent, which the service has always received.
    if (i + 1 < entries.size()) text += ';';
  }
  return text;
}

void SyncVideoFolder(const FolderSyncHost& host) {
  if (host.activeDevice.empty()) {
    host.showMessage(kNoActiveDevices);
    return;
  }
  std::string chosen;
  if (!host.chooseFolder(&chosen)) return;
  const std::string folder = text::Utf8ToAnsi(chosen);
  host.storeFolder(folder);

  std::vector<std::string> entries;
  ListFolderTree(chosen, "", entries, host.pumpMessages);
  const std::string text = JoinSyncList(entries, host.pumpMessages);

  host.writeSettings(folder);
  host.showSyncFolder(folder);
  host.enableServerStart();

  const std::string url = FolderSyncUrl(CurrentServiceHosts().listService, folder,
                                        host.activeDevice, host.localAddress());
  host.showMessage(AnswerForDisplay(host.transport.postText(url, text)));
}

}  // namespace tovi::remote

#include "remote/folder_sync.h"

#include <array>
#include <string_view>

#include "platform/files.h"
#include "remote/service_hosts.h"

namespace tovi::remote {

namespace {
constexpr std::array<std::string_view, 7> kMediaTypes = {".avi", ".mkv", ".mp4", ".mov",
                                                         ".flv", ".mpeg", ".mp3"};
}  // namespace

void ListFolderTree(const std::string& folder, const std::string& mask,
                    std::vector<std::string>& list, const std::function<void()>& pumpMessages) {
  const std::string pattern = mask.empty() ? "*.*" : mask;
  std::string base = folder;
  if (base.empty() || base.back() != fs::kSeparator) base += fs::kSeparator;
  for (const fs::DirEntry& entry : fs::FindEntries(base, pattern, fs::kAttrAnyFile)) {
    if (pumpMessages) pumpMessages();
    if (!entry.IsDirectory()) {
      list.push_back(base + entry.name);
      continue;
    }
    if (entry.name == "." || entry.name == "..") continue;
    const std::string sub = base + entry.name + fs::kSeparator;
    list.push_back(sub);
    ListFolderTree(sub, pattern, list, pumpMessages);
  }
}

bool IsSyncedMedia(const std::string& path) {
  for (std::string_view type : kMediaTypes) {
    if (path.find(type) != std::string::npos) return true;
  }
  return false;
}

std::string JoinSyncList(const std::vector<std::string>& entries,
                         const std::function<void()>& pumpMessages) {
  std::string text;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (pumpMessages) pumpMessages();
    if (!IsSyncedMedia(entries[i])) continue;
    text += entries[i];
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
  std::string folder;
  if (!host.chooseFolder(&folder)) return;
  host.storeFolder(folder);

  std::vector<std::string> entries;
  ListFolderTree(folder, "", entries, host.pumpMessages);
  const std::string text = JoinSyncList(entries, host.pumpMessages);

  host.writeSettings(folder);
  host.showSyncFolder(folder);
  host.enableServerStart();

  const std::string url = FolderSyncUrl(CurrentServiceHosts().listService, folder,
                                        host.activeDevice, host.localAddress());
  host.showMessage(AnswerForDisplay(host.transport.postText(url, text)));
}

}  // namespace tovi::remote

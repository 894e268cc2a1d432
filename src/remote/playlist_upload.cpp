#include "remote/playlist_upload.h"

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/text_lines.h"
#include "remote/service_hosts.h"

namespace tovi::remote {

namespace {
constexpr const char* kLineSeparator = "nxs10nxs13";
}  // namespace

std::string PackPlaylistLines(const std::string& fileBytes) {
  std::string packed;
  for (const std::string& line : text::SplitLines(fileBytes)) {
    packed += line;
    packed += kLineSeparator;
  }
  return packed;
}

void UploadPlaylist(const PlaylistUploadHost& host) {
  if (host.activeDevice.empty()) {
    host.showMessage(kNoActiveDevices);
    return;
  }
  std::string path;
  if (!host.choosePlaylist(&path)) return;
  const std::string text = PackPlaylistLines(fs::ReadWholeFile(path));
  // The service has always been sent the path in the system code page.
  const std::string url =
      UploadUrl(CurrentServiceHosts().mainSite, text::Utf8ToAnsi(path), host.activeDevice);
  const std::string answer = host.transport.postText(url, text);
  host.showMessage(AnswerForDisplay(answer));
}

}  // namespace tovi::remote

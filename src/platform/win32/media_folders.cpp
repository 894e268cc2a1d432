// Windows: the known folders, wherever the user moved them, with the shell's display name
// (localized by the folder's desktop.ini, so "Видео" on a Russian Windows).
#include "platform/media_folders.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>

#include "platform/files.h"
#include "platform/win32/wide.h"

namespace tovi::fs {
namespace {

// COM for the shell calls of this thread, undone as the call ends when it was this call's.
class ComForCall {
 public:
  ComForCall() : initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
  ~ComForCall() {
    if (initialized_) CoUninitialize();
  }
  ComForCall(const ComForCall&) = delete;
  ComForCall& operator=(const ComForCall&) = delete;

 private:
  bool initialized_;
};

std::string KnownFolderPath(REFKNOWNFOLDERID id) {
  PWSTR wide = nullptr;
  std::string path;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &wide)) && wide) {
    path = text::WideToUtf8(wide);
  }
  CoTaskMemFree(wide);
  return path;
}

// What the shell shows; the folder's own name when it says nothing.
std::string DisplayNameOf(const std::string& path) {
  SHFILEINFOW info{};
  if (SHGetFileInfoW(text::Utf8ToWide(path).c_str(), 0, &info, sizeof info, SHGFI_DISPLAYNAME) &&
      info.szDisplayName[0] != L'\0') {
    return text::WideToUtf8(info.szDisplayName);
  }
  return path.substr(path.find_last_of('\\') + 1);
}

}  // namespace

std::vector<MediaFolder> UserMediaFolders() {
  const ComForCall com;
  std::vector<MediaFolder> folders;
  const KNOWNFOLDERID* const ids[] = {&FOLDERID_Videos, &FOLDERID_Music, &FOLDERID_Pictures,
                                      &FOLDERID_Downloads};
  for (const KNOWNFOLDERID* id : ids) {
    std::string path = KnownFolderPath(*id);
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    if (path.size() < 3 || !DirectoryExists(path)) continue;
    const std::string title = DisplayNameOf(path);
    if (path.back() != '\\') path += '\\';
    folders.push_back(MediaFolder{path, title});
  }
  return folders;
}

}  // namespace tovi::fs

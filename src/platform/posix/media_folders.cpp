// POSIX: the XDG user directories, read as xdg-user-dirs writes them:
// XDG_VIDEOS_DIR="$HOME/Videos", a path relative to $HOME or an absolute one.
#include "platform/media_folders.h"

#include <cstdlib>
#include <string_view>

#include "platform/files.h"
#include "platform/text_lines.h"

namespace tovi::fs {
namespace {

constexpr const char* kMediaDirKeys[] = {"XDG_VIDEOS_DIR", "XDG_MUSIC_DIR", "XDG_PICTURES_DIR",
                                         "XDG_DOWNLOAD_DIR"};

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// "/a//b/" reads "/a/b/": the form a folder listing gives, so that its id is that folder's.
std::string FolderForm(const std::string& path) {
  std::string out;
  for (const char c : path) {
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  if (out.empty() || out.back() != '/') out += '/';
  return out;
}

// The value of `key="..."` in the file's text, $HOME expanded; "" when it is not there.
std::string ValueOf(const std::string& text, std::string_view key, const std::string& home) {
  for (const std::string& raw : text::SplitLines(text)) {
    std::string_view line = raw;
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.substr(0, key.size()) != key || line.substr(key.size(), 2) != "=\"") continue;
    line.remove_prefix(key.size() + 2);
    const std::size_t end = line.find('"');
    if (end == std::string_view::npos) return std::string();
    std::string value(line.substr(0, end));
    if (value.rfind("$HOME", 0) == 0) value = home + value.substr(5);
    return value;
  }
  return std::string();
}

std::string NameOf(const std::string& folder) {
  const std::string trimmed = folder.substr(0, folder.size() - 1);
  return trimmed.substr(trimmed.rfind('/') + 1);
}

}  // namespace

std::vector<MediaFolder> UserMediaFolders() {
  const std::string home = Environment("HOME");
  std::string config = Environment("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') config = home + "/.config";
  const std::string file = config + "/user-dirs.dirs";
  const std::int64_t size = FileSize(file);
  if (home.empty() || size <= 0 || static_cast<std::uint64_t>(size) > kMaxUserDirsBytes) return {};
  std::string text;
  try {
    text = ReadWholeFile(file);
  } catch (const std::exception&) {
    return {};
  }
  std::vector<MediaFolder> folders;
  for (const char* key : kMediaDirKeys) {
    const std::string value = ValueOf(text, key, home);
    if (value.empty() || value[0] != '/') continue;
    const std::string path = FolderForm(value);
    if (path == FolderForm(home) || path == "/" || !DirectoryExists(path)) continue;
    folders.push_back(MediaFolder{path, NameOf(path)});
  }
  return folders;
}

}  // namespace tovi::fs

#include "server/playlists.h"

#include "platform/files.h"
#include "local/paths.h"
#include "server/texts.h"

namespace tovi::server {

namespace {

// "Диск " in UTF-8.
constexpr const char* kDriveTitle = "\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA ";

// Only the listing's own separator: on POSIX a backslash is a character of names, and a file
// whose name ends with one is still a file.
bool EndsWithFolderMark(const std::string& item, char separator) {
  return !item.empty() && LastPos(std::string_view(&separator, 1), item) == item.size();
}

}  // namespace

std::string FileSizeText(const std::string& path, const std::string& decimalSeparator) {
  if (!fs::FileExists(path)) return "nf";
  const std::int64_t size = fs::FileSize(path);
  return size < 0 ? std::string() : FormatSizeLabel(size, decimalSeparator);
}

std::string DrivePlaylist(const std::vector<std::string>& roots, const std::string& address) {
  const std::string base = ServerBaseUrl(address);
  std::string body = kPlaylistHeader;
  for (const std::string& root : roots) {
    std::string label = root;
    if (label.size() > 1) label.pop_back();  // "C:\" reads "C:", "/media/usb/" reads "/media/usb"
    const std::string query = root == "/" ? "//" : root;
    body += M3uEntry(kDriveTitle + label, base + "/treeview?" + EncodeUrlItem(query, root.back()));
  }
  return body;
}

std::string FolderPlaylist(const std::vector<std::string>& items, const std::string& address,
                           char separator,
                           const std::function<std::string(const std::string&)>& sizeLabel,
                           const std::function<bool()>& abandoned) {
  const std::string base = ServerBaseUrl(address);
  std::string body = kPlaylistHeader;
  for (const std::string& item : items) {
    if (!EndsWithFolderMark(item, separator)) continue;
    body += M3uEntry(local::LastPathComponent(item, separator), base + "/treeview?" + EncodeUrlItem(item, separator));
  }
  for (const std::string& item : items) {
    if (EndsWithFolderMark(item, separator)) continue;
    if (abandoned && abandoned()) break;
    // An absolute POSIX path already starts with the "/" that separates it from the address.
    const std::string slash = !item.empty() && item.front() == '/' ? "" : "/";
    body += M3uEntry(local::LastPathComponent(item, separator) + " " + sizeLabel(item),
                     base + slash + EncodeUrlItem(item, separator));
  }
  return body;
}

}  // namespace tovi::server

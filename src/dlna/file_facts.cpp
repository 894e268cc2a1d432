#include "dlna/file_facts.h"

#include <algorithm>

#include "dlna/art.h"
#include "dlna/media_types.h"
#include "local/listing.h"

namespace tovi::dlna {

namespace {

// A file that cannot be opened throws: it is asked again, not taken for one without facts.
media::MediaFacts ReadFileFacts(const std::string& path) {
  FileSource source(path);
  try {
    return media::ReadFacts(ExtensionOf(path), source).value_or(media::MediaFacts{});
  } catch (const std::exception&) {
    return media::MediaFacts{};
  }
}

FileFacts ReadFolderFacts(const std::string& folder) {
  const char separator = folder.empty() ? fs::kSeparator : folder.back();
  FileFacts facts;
  const std::string poster = FolderArtOf(folder, local::ListFolder(folder, separator));
  if (poster.empty()) return facts;
  facts.art = poster.substr(folder.size());
  facts.media = ReadFileFacts(poster);
  return facts;
}

}  // namespace

FileSource::FileSource(const std::string& path)
    : file_(path), size_(static_cast<std::uint64_t>(std::max<std::int64_t>(file_.Size(), 0))) {}

std::size_t FileSource::ReadAt(std::uint64_t offset, void* out, std::size_t length) {
  const long got = file_.ReadAt(offset, out, length);
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

FileFacts ReadPathFacts(const std::string& path, const fs::FileStamp& stamp) {
  if (stamp.directory) return ReadFolderFacts(path);
  return FileFacts{ReadFileFacts(path), {}};
}

}  // namespace tovi::dlna

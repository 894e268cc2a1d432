#include "dlna/entry_facts.h"

#include "dlna/art.h"
#include "dlna/media_types.h"

namespace tovi::dlna {

namespace {

// What a picture of unknown size is announced as: the profile TVs look for in a poster.
constexpr const char* kThumbnailProfile = "JPEG_TN";
constexpr const char* kPngThumbnailProfile = "PNG_TN";

std::string ArtProfile(const std::optional<FileFacts>& poster) {
  if (!poster || !poster->media.width || !poster->media.height) return kThumbnailProfile;
  return PictureProfile("image/jpeg", *poster->media.width, *poster->media.height);
}

}  // namespace

std::int64_t ModifiedSeconds(const fs::FileStamp& stamp) {
  constexpr std::int64_t kNsPerSecond = 1000000000;
  const std::int64_t ns = stamp.modifiedNs;
  return ns >= 0 ? ns / kNsPerSecond : (ns - kNsPerSecond + 1) / kNsPerSecond;
}

std::vector<EntryFacts> FactsForAnswer(FactsCache& cache, const std::vector<std::string>& paths) {
  std::vector<EntryFacts> known(paths.size());
  std::vector<FactsWanted> wanted;
  std::vector<std::size_t> at;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    known[i].stamp = fs::StampOf(paths[i]);
    if (!known[i].stamp) continue;
    wanted.push_back(FactsWanted{paths[i], *known[i].stamp});
    at.push_back(i);
  }
  std::vector<std::optional<FileFacts>> facts = cache.ForAnswer(wanted);
  for (std::size_t j = 0; j < at.size(); ++j) known[at[j]].facts = std::move(facts[j]);
  return known;
}

void ApplyFacts(DidlItem& item, const std::string& path, const EntryFacts& known,
                const std::string& artPath, const FactsCache& cache, const std::string& baseUrl) {
  if (known.stamp && !known.stamp->directory) {
    item.size = static_cast<std::uint64_t>(known.stamp->size);
    item.modified = ModifiedSeconds(*known.stamp);
  }
  if (known.facts) item.facts = known.facts->media;
  item.type = &FileType(*item.type, item.facts);
  const media::MediaFacts& facts = item.facts;
  if (item.type->kind == MediaKind::Audio && facts.coverOffset && facts.coverLength) {
    item.albumArtUrl = CoverUrl(baseUrl, path);
    item.albumArtProfile = CoverProfile(facts);
  } else if (!artPath.empty()) {
    item.albumArtUrl = ResourceUrl(baseUrl, ObjectIdOfPath(artPath), ExtensionOf(artPath));
    item.albumArtProfile = ArtProfile(cache.Known(artPath));
  }
}

void ApplyFacts(DidlContainer& container, const std::string& folder, const EntryFacts& known,
                const std::string& baseUrl) {
  if (!known.facts || known.facts->art.empty()) return;
  const std::string poster = folder + known.facts->art;
  container.albumArtUrl = ResourceUrl(baseUrl, ObjectIdOfPath(poster), ExtensionOf(poster));
  container.albumArtProfile = ArtProfile(known.facts);
}

media::MediaFacts FactsNow(FactsCache& cache, const std::string& path) {
  const std::optional<fs::FileStamp> stamp = fs::StampOf(path);
  if (!stamp) return media::MediaFacts{};
  return cache.Now(FactsWanted{path, *stamp}).media;
}

const char* CoverProfile(const media::MediaFacts& facts) {
  return facts.coverMime == "image/png" ? kPngThumbnailProfile : kThumbnailProfile;
}

std::optional<std::string> SamsungMediaInfo(const media::MediaFacts& facts) {
  if (!facts.durationMs) return std::nullopt;
  return "SEC_Duration=" + std::to_string(*facts.durationMs);
}

}  // namespace tovi::dlna

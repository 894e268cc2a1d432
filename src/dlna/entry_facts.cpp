#include "dlna/entry_facts.h"

#include <map>

#include "dlna/art.h"
#include "dlna/media_types.h"

namespace tovi::dlna {

namespace {

// What a poster not read yet is announced as: the profile TVs look for in a poster.
constexpr const char* kThumbnailProfile = "JPEG_TN";
constexpr const char* kPngThumbnailProfile = "PNG_TN";

std::string ArtProfile(const std::optional<FileFacts>& poster) {
  if (!poster) return kThumbnailProfile;
  // Read, and no JPEG's size found in it (a PNG or WebP saved as ".jpg", an empty or damaged
  // file), or a JPEG no profile covers: no profile, rather than one a TV checks the picture
  // against and refuses or misdraws it for.
  if (!poster->media.width || !poster->media.height || poster->media.unprofiledJpeg) return {};
  return PictureProfile("image/jpeg", *poster->media.width, *poster->media.height);
}

}  // namespace

std::vector<EntryFacts> FactsForAnswer(FactsCache& cache, const std::vector<std::string>& paths,
                                       const std::vector<std::string>& posters) {
  std::vector<EntryFacts> known(paths.size());
  std::vector<FactsWanted> wanted;
  std::vector<std::size_t> at;
  std::map<std::string, std::size_t> wantedAt;  // each path wanted and stamped once
  for (std::size_t i = 0; i < paths.size(); ++i) {
    known[i].stamp = fs::StampOf(paths[i]);
    if (!known[i].stamp) continue;
    wantedAt.emplace(paths[i], wanted.size());
    wanted.push_back(FactsWanted{paths[i], *known[i].stamp});
    at.push_back(i);
    std::string& poster = known[i].posterPath;
    if (i < posters.size()) poster = posters[i];
    if (known[i].stamp->directory) {
      const std::optional<FileFacts> last = cache.Known(paths[i]);
      if (last && !last->art.empty()) poster = paths[i] + last->art;
    }
  }
  for (const std::size_t i : at) {
    const std::string& poster = known[i].posterPath;
    if (poster.empty() || wantedAt.count(poster)) continue;
    if (const std::optional<fs::FileStamp> stamp = fs::StampOf(poster)) {
      wantedAt.emplace(poster, wanted.size());
      wanted.push_back(FactsWanted{poster, *stamp});
    }
  }
  const std::vector<std::optional<FileFacts>> facts = cache.ForAnswer(wanted);
  for (std::size_t j = 0; j < at.size(); ++j) {
    EntryFacts& entry = known[at[j]];
    entry.facts = facts[j];
    const auto poster = wantedAt.find(entry.posterPath);
    if (poster != wantedAt.end()) entry.poster = facts[poster->second];
  }
  return known;
}

void ApplyFacts(DidlItem& item, const std::string& path, const EntryFacts& known,
                const std::string& artPath, const std::string& baseUrl) {
  if (known.stamp && !known.stamp->directory) {
    item.size = static_cast<std::uint64_t>(known.stamp->size);
    item.modified = known.stamp->modifiedSeconds;
  }
  if (known.facts) item.facts = known.facts->media;
  item.type = &FileType(*item.type, item.facts);
  const media::MediaFacts& facts = item.facts;
  if (item.type->kind == MediaKind::Audio && facts.coverOffset && facts.coverLength) {
    item.albumArtUrl = CoverUrl(baseUrl, path);
    item.albumArtProfile = CoverProfile(facts);
  } else if (!artPath.empty()) {
    item.albumArtUrl = ResourceUrl(baseUrl, ObjectIdOfPath(artPath), ExtensionOf(artPath));
    item.albumArtProfile = ArtProfile(known.posterPath == artPath ? known.poster : std::nullopt);
  }
}

void ApplyFacts(DidlContainer& container, const std::string& folder, const EntryFacts& known,
                const std::string& baseUrl) {
  if (!known.facts || known.facts->art.empty()) return;
  const std::string poster = folder + known.facts->art;
  container.albumArtUrl = ResourceUrl(baseUrl, ObjectIdOfPath(poster), ExtensionOf(poster));
  // The poster as it is now, once it has been read on its own; until then as the folder's read
  // found it.
  container.albumArtProfile =
      ArtProfile(known.posterPath == poster && known.poster ? known.poster : known.facts);
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

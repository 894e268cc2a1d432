// What a Browse answer's objects carry beside their names: a file's size and date, the facts its
// headers gave, and a poster, for items and folders alike. Each object costs one query of the
// disk (its stamp), and each poster one more; facts come from the cache within the answer's wait,
// posters from the folder listing (ListingArt) or the folder's own facts, and a poster's picture
// size from the poster's own facts as it is now.
// Thread safety: as FactsCache; the functions keep no state.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "dlna/didl.h"
#include "dlna/facts_cache.h"
#include "platform/files.h"

namespace tovi::dlna {

struct EntryFacts {
  std::optional<fs::FileStamp> stamp;  // nothing: the file went away or cannot be queried
  std::optional<FileFacts> facts;      // nothing: not read yet (or no stamp)
  // Its poster file's own facts as the poster is now (a poster is replaced in place without its
  // folder changing): the item's from its listing, a folder's the one its facts last named.
  std::string posterPath;
  std::optional<FileFacts> poster;
};

// The stamps of paths (files and folders, as the listings give them) and their facts, and those of
// their posters, as far as the cache has them or reads them within the answer's wait. posters
// holds each item's poster file from the listing ("" = none, and for folders); empty: none.
std::vector<EntryFacts> FactsForAnswer(FactsCache& cache, const std::vector<std::string>& paths,
                                       const std::vector<std::string>& posters = {});

// An item's size, date, facts and poster: artPath is its poster file from the listing ("" =
// none); an MP3's embedded cover goes before its folder's.
void ApplyFacts(DidlItem& item, const std::string& path, const EntryFacts& known,
                const std::string& artPath, const std::string& baseUrl);
// A folder's poster.
void ApplyFacts(DidlContainer& container, const std::string& folder, const EntryFacts& known,
                const std::string& baseUrl);

// One file's facts for its resource's answer: kept ones, else read now (empty when it is gone).
media::MediaFacts FactsNow(FactsCache& cache, const std::string& path);

// The profile an MP3's embedded cover is announced with, by its media type: PNG_TN or JPEG_TN.
const char* CoverProfile(const media::MediaFacts& facts);

// The "MediaInfo.sec" header's value, "SEC_Duration=<ms>", for a file of known length.
std::optional<std::string> SamsungMediaInfo(const media::MediaFacts& facts);

}  // namespace tovi::dlna

// DIDL-Lite, the documents a Browse answers with: containers (folders, drives) and items (media
// files) with their titles, classes and res elements. Titles are the names as they are, in
// UTF-8 with the XML specials escaped; what XML cannot carry (control characters, bytes that are
// no UTF-8, as a POSIX name may hold) becomes U+FFFD, so that one odd name never spoils a whole
// listing. Items are written as the player's row asks (media types, profiles, subtitles, resume
// positions). Safe from any thread (the bookmarks lock their own table).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <vector>

#include "dlna/bookmarks.h"
#include "dlna/media_types.h"
#include "dlna/players.h"
#include "media/facts.h"

namespace tovi::dlna {

// "H:MM:SS.FFF", as res@duration wants it.
std::string DurationText(std::uint64_t ms);

struct DidlContainer {
  std::string id, parentId, title;
  std::optional<std::uint32_t> childCount;  // left out when counting would cost a listing
  std::string albumArtUrl;                  // a poster of the folder ("" = none)
  std::string albumArtProfile = {};         // its DLNA profile ("" = none known)
};

// A subtitle file offered with a video.
struct DidlSubtitle {
  std::string url;
  std::string kind;  // its extension: "srt", "ass", "ssa", "vtt", "sub"
  std::string mime;  // the media type it is served with
};

struct DidlItem {
  std::string id, parentId, title;
  const MediaType* type = nullptr;  // never null
  std::optional<std::uint64_t> size;
  std::string url;                       // the res element's URL
  std::vector<DidlSubtitle> subtitles;   // beside a video, the preferred first
  media::MediaFacts facts;               // what the file's headers said (may be empty)
  std::optional<std::int64_t> modified;  // seconds since 1970 (UTC): dc:date
  std::string albumArtUrl;               // a poster or cover ("" = none)
  std::string albumArtProfile = {};      // its DLNA profile ("" = none known)
};

// Collects elements, then gives the document. player: the row the items are written for;
// bookmarks: the resume positions given to a player whose row keeps them (may be null). Both
// must outlive the writer.
class DidlWriter {
 public:
  explicit DidlWriter(const Player& player = UnknownPlayer(), const Bookmarks* bookmarks = nullptr)
      : player_(player), bookmarks_(bookmarks) {}
  void Add(const DidlContainer& container);
  void Add(const DidlItem& item);
  std::string Document() const;
  // The bytes of the elements added so far.
  std::size_t Size() const { return body_.size(); }

 private:
  void AddSubtitleElements(const DidlItem& item);
  void AddSubtitleResources(const DidlItem& item);

  const Player& player_;
  const Bookmarks* bookmarks_;
  std::string body_;
};

// "YYYY-MM-DDThh:mm:ss" (UTC) of seconds since 1970, as dc:date carries it.
std::string DateText(std::int64_t seconds);

// "<base>/?dlna/res/<id>.<extension>": baseUrl is "http://address:port".
std::string ResourceUrl(std::string_view baseUrl, std::string_view id, std::string_view extension);

}  // namespace tovi::dlna

// The players this side knows and what each family needs that others do not: one row per
// family, recognised from the headers of its requests, read by the DIDL writer and by the
// resource answer. A player no row names gets the unknown player's row, whose answers are
// those of a server that knows no player (the media table's types, profiles where they apply,
// Samsung's subtitle elements and a res of the first subtitle).
// Every listing is in natural order for every player; the rows that need that are marked, so
// that the order is not given up for a player that depends on it.
// Pure, constant data; safe from any thread.
#pragma once
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "dlna/media_types.h"
#include "http/header_list.h"

namespace tovi::dlna {

// How a video's subtitles are offered in its item.
enum class SubtitleStyle {
  // Samsung's sec:CaptionInfoEx and sec:CaptionInfo naming the first subtitle: what its players
  // read (with the CaptionInfo.sec header of the video's answer); a subtitle res would show as
  // a second version of the film.
  SamsungElements,
  // A res per subtitle with its own media type: what the other players list as subtitle tracks.
  ResPerSubtitle,
  // Samsung's elements and a res of the first subtitle: the answer for a player not known.
  ElementsAndFirstRes,
};

// A media type a family wants other than the media table's (or the subtitle table's), by the
// file's extension.
struct PlayerMediaType {
  const char* extension;  // lower case, as the media table's
  const char* mime;
};

struct Player {
  const char* family;  // as the README lists it
  // Texts one of which the User-Agent, X-AV-Client-Info or FriendlyName.DLNA.ORG of its
  // requests holds (case as sent).
  std::initializer_list<const char*> markers;
  std::initializer_list<PlayerMediaType> mediaTypes;
  SubtitleStyle subtitles;
  bool needsSortedList;  // shows a listing in the order given (every listing here is sorted)
  bool profiles;         // DLNA.ORG_PN may be sent
  bool subtitleBom;      // reads a UTF-8 subtitle only when it starts with a BOM
  bool bookmarks;        // keeps a resume position with X_SetBookmark, reads it in sec:dcmInfo
};

// The known families, in the order they are tried (a media app on a console first).
std::span<const Player> KnownPlayers();
// The row of a player no row names.
const Player& UnknownPlayer();

// The family whose marker one of the three headers holds; else UnknownPlayer().
const Player& PlayerOf(std::string_view userAgent, std::string_view avClientInfo,
                       std::string_view friendlyName);
// The same, from a request's headers.
const Player& PlayerOf(const http::TNetHeaderList& headers);

// The media type a family is given for a type of the media table.
const char* MimeFor(const Player& player, const MediaType& type);
// The same for a file of that extension (lower case) whose table's type is mime (a subtitle's).
const char* MimeFor(const Player& player, std::string_view extension, const char* mime);
// DlnaFeatures and ProtocolInfo as that family is given them: the profile the file has (the
// type's unless its facts say otherwise, "" = none), left out for a family that takes none.
std::string DlnaFeaturesFor(const Player& player, const MediaType& type);
std::string DlnaFeaturesFor(const Player& player, const MediaType& type, std::string_view profile);
std::string ProtocolInfoFor(const Player& player, const MediaType& type);
std::string ProtocolInfoFor(const Player& player, const MediaType& type, std::string_view profile);

}  // namespace tovi::dlna

// The order of a Browse answer: the SortCriteria a control point sends ("+dc:title",
// "-dc:date,+dc:title", "+upnp:class,+dc:title"; an empty one is the default order) and the ordering of a listing by
// them. Folders always come before files; within each, the criteria in turn, then the title
// in natural order (see natural_order.h), so the order is total and the same for every page.
// A property no object here carries (a track number, an album) is passed over: it orders none
// of them. Errors: ParseSortCriteria throws UpnpError 709 for one they carry that this server
// does not sort by (a res attribute, an id) and for a part that names no property.
// Pure, safe from any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::dlna {

// What GetSortCapabilities answers: the properties SortCriteria may name.
// upnp:class is among them since phone apps and home-automation players ask for it by default
// and show nothing when it is refused.
inline constexpr const char* kSortCapabilities = "dc:title,dc:date,upnp:class";

struct SortKey {
  enum class Property { Title, Date, Class };
  Property property = Property::Title;
  bool descending = false;
  bool operator==(const SortKey&) const = default;
};

// "+dc:title,-dc:date": the keys in order. A property without its sign counts as "+" (some
// control points leave it out); spaces around the parts are skipped, empty parts ignored.
std::vector<SortKey> ParseSortCriteria(std::string_view criteria);

// The keys of criteria this server sorts by, the others left out (a Search's): a Windows player
// searches its music by "+upnp:artist,+upnp:album,+upnp:originalTrackNumber,+dc:title" and
// shows nothing when that is refused, where an order by the titles alone serves it.
std::vector<SortKey> KnownSortKeys(std::string_view criteria);

// The keys as a short text, the same for the same keys: what kept orders and answers are found by.
std::string SortKeysText(const std::vector<SortKey>& keys);

// Whether some key needs the objects' dates (reading them costs a file query each).
bool NeedsDates(const std::vector<SortKey>& keys);

// One object of a listing as the order sees it.
struct SortFacts {
  bool folder = false;
  std::string_view title;
  std::int64_t modified = 0;  // seconds since 1970; read only when NeedsDates
  std::string_view upnpClass;  // "object.item.videoItem", ...
};

// The indexes of objects in the order the keys give (empty keys: by title).
std::vector<std::size_t> OrderOf(const std::vector<SortFacts>& objects,
                                 const std::vector<SortKey>& keys);

}  // namespace tovi::dlna

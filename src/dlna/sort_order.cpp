#include "dlna/sort_order.h"

#include <algorithm>
#include <optional>

#include "dlna/natural_order.h"
#include "dlna/upnp_error.h"

namespace tovi::dlna {
namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Calls each(part) for the criteria's parts, trimmed, empty ones left out.
template <typename Each>
void ForEachPart(std::string_view criteria, Each each) {
  while (!criteria.empty()) {
    const std::size_t comma = criteria.find(',');
    const std::string_view part = Trimmed(criteria.substr(0, comma));
    if (!part.empty()) each(part);
    if (comma == std::string_view::npos) break;
    criteria.remove_prefix(comma + 1);
  }
}

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.';
}

// "name" or "prefix:name" (the prefix required for an element other than res).
bool IsName(std::string_view name, bool prefixed) {
  const std::size_t colon = name.find(':');
  if (colon == std::string_view::npos ? prefixed || name.empty()
                                      : colon == 0 || colon + 1 == name.size())
    return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (i != colon && !IsNameChar(name[i])) return false;
  }
  return true;
}

// "upnp:album", "res@size", "@id": a property's name, whatever the property.
bool IsPropertyName(std::string_view property) {
  const std::size_t at = property.find('@');
  const std::string_view element = property.substr(0, at);
  const bool attribute = at != std::string_view::npos;
  const bool elementNamed =
      element == "res" || IsName(element, true) || (element.empty() && attribute);
  return elementNamed && (!attribute || IsName(property.substr(at + 1), false));
}

// Whether the objects of a listing carry the property (the DIDL writer gives it to some of them)
// without being sorted by it here: the id attributes, a res and its attributes, a poster,
// Samsung's elements.
bool CarriedUnsorted(std::string_view property) {
  const std::string_view element = property.substr(0, property.find('@'));
  return element.empty() || element == "res" || element == "upnp:albumArtURI" ||
         element.starts_with("sec:");
}

// The key a part names; none for a property no object here carries (a track number, an album,
// an artist): every object lacks it, so it orders none of them. Players send such criteria
// whatever the server's capabilities (Windows Media Player and music receivers
// "+upnp:originalTrackNumber,+dc:title"), and show an empty folder on a fault.
std::optional<SortKey> KeyOf(std::string_view part) {
  SortKey key;
  if (part.front() == '+' || part.front() == '-') {
    key.descending = part.front() == '-';
    part = Trimmed(part.substr(1));
  }
  if (part == "dc:title") {
    key.property = SortKey::Property::Title;
  } else if (part == "dc:date") {
    key.property = SortKey::Property::Date;
  } else if (part == "upnp:class") {
    key.property = SortKey::Property::Class;
  } else if (IsPropertyName(part) && !CarriedUnsorted(part)) {
    return std::nullopt;
  } else {
    throw UnsupportedSortCriteria();
  }
  return key;
}

}  // namespace

std::vector<SortKey> ParseSortCriteria(std::string_view criteria) {
  std::vector<SortKey> keys;
  ForEachPart(criteria, [&](std::string_view part) {
    if (const std::optional<SortKey> key = KeyOf(part)) keys.push_back(*key);
  });
  return keys;
}

std::vector<SortKey> KnownSortKeys(std::string_view criteria) {
  std::vector<SortKey> keys;
  ForEachPart(criteria, [&](std::string_view part) {
    try {
      if (const std::optional<SortKey> key = KeyOf(part)) keys.push_back(*key);
    } catch (const UpnpError&) {
    }
  });
  return keys;
}

std::string SortKeysText(const std::vector<SortKey>& keys) {
  std::string text;
  for (const SortKey& key : keys) {
    text += key.descending ? '-' : '+';
    text += static_cast<char>('0' + static_cast<int>(key.property));
  }
  return text;
}

bool NeedsDates(const std::vector<SortKey>& keys) {
  return std::any_of(keys.begin(), keys.end(),
                     [](const SortKey& k) { return k.property == SortKey::Property::Date; });
}

std::vector<std::size_t> OrderOf(const std::vector<SortFacts>& objects,
                                 const std::vector<SortKey>& keys) {
  // One natural key per object, computed before the sort's n log n comparisons, all side by side
  // in one buffer: a large folder's keys cost no allocation each, and the comparisons that read
  // them wander through less memory.
  std::string buffer;
  std::size_t titleBytes = 0;
  for (const SortFacts& object : objects) titleBytes += object.title.size();
  buffer.reserve(titleBytes * 2 + objects.size() * 8);  // a Latin name's key, with its numbers
  std::vector<std::size_t> ends(objects.size());
  for (std::size_t i = 0; i < objects.size(); ++i) {
    AppendNaturalKey(objects[i].title, &buffer);
    ends[i] = buffer.size();
  }
  struct Item {
    std::string_view title;  // its natural key
    std::size_t index;
    bool folder;
  };
  std::vector<Item> items(objects.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const std::size_t begin = i == 0 ? 0 : ends[i - 1];
    items[i] = Item{std::string_view(buffer).substr(begin, ends[i] - begin), i,
                    objects[i].folder};
  }
  auto before = [&](const Item& a, const Item& b) {
    if (a.folder != b.folder) return a.folder;
    for (const SortKey& key : keys) {
      const SortFacts& x = objects[a.index];
      const SortFacts& y = objects[b.index];
      int sign = 0;
      if (key.property == SortKey::Property::Date) {
        sign = x.modified < y.modified ? -1 : (x.modified > y.modified ? 1 : 0);
      } else if (key.property == SortKey::Property::Class) {
        sign = x.upnpClass.compare(y.upnpClass);
      } else {
        sign = a.title.compare(b.title);
      }
      if (sign != 0) return key.descending ? sign > 0 : sign < 0;
    }
    return a.title < b.title;
  };
  std::sort(items.begin(), items.end(), before);
  std::vector<std::size_t> order(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) order[i] = items[i].index;
  return order;
}

}  // namespace tovi::dlna

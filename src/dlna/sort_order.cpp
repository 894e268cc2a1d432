#include "dlna/sort_order.h"

#include <algorithm>
#include <numeric>

#include "dlna/natural_order.h"
#include "dlna/upnp_error.h"

namespace tovi::dlna {
namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

SortKey KeyOf(std::string_view part) {
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
  } else {
    throw UnsupportedSortCriteria();
  }
  return key;
}

}  // namespace

std::vector<SortKey> ParseSortCriteria(std::string_view criteria) {
  std::vector<SortKey> keys;
  while (!criteria.empty()) {
    const std::size_t comma = criteria.find(',');
    const std::string_view part = Trimmed(criteria.substr(0, comma));
    if (!part.empty()) keys.push_back(KeyOf(part));
    if (comma == std::string_view::npos) break;
    criteria.remove_prefix(comma + 1);
  }
  return keys;
}

bool NeedsDates(const std::vector<SortKey>& keys) {
  return std::any_of(keys.begin(), keys.end(),
                     [](const SortKey& k) { return k.property == SortKey::Property::Date; });
}

std::vector<std::size_t> OrderOf(const std::vector<SortFacts>& objects,
                                 const std::vector<SortKey>& keys) {
  // One natural key per object, computed before the sort's n log n comparisons.
  std::vector<std::string> titles(objects.size());
  for (std::size_t i = 0; i < objects.size(); ++i) titles[i] = NaturalKey(objects[i].title);
  std::vector<std::size_t> order(objects.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  auto before = [&](std::size_t a, std::size_t b) {
    const SortFacts& x = objects[a];
    const SortFacts& y = objects[b];
    if (x.folder != y.folder) return x.folder;
    for (const SortKey& key : keys) {
      int sign = 0;
      if (key.property == SortKey::Property::Date) {
        sign = x.modified < y.modified ? -1 : (x.modified > y.modified ? 1 : 0);
      } else if (key.property == SortKey::Property::Class) {
        sign = x.upnpClass.compare(y.upnpClass);
      } else {
        sign = titles[a].compare(titles[b]);
      }
      if (sign != 0) return key.descending ? sign > 0 : sign < 0;
    }
    return titles[a] < titles[b];
  };
  std::sort(order.begin(), order.end(), before);
  return order;
}

}  // namespace tovi::dlna

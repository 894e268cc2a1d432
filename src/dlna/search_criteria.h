// The SearchCriteria a control point sends with a Search ("*", `upnp:class derivedfrom
// "object.item.videoItem" and @refID exists false`, `(dc:title contains "x" or ...)`), parsed
// once and tested against each object a walk finds. Operators: = != < <= > >= contains
// doesNotContain derivedfrom exists; and binds tighter than or; parentheses; values in double
// quotes with \" and \\ inside. Names of operators and of and/or/true/false are taken in any
// letter case (players differ: "derivedFrom", "AND"). Text compares without regard to the letter
// case of ASCII and Cyrillic (ids exactly); res@size compares as a number, res@duration as a length of time,
// dc:date as its text ("2020-01-31T20:00:00" after "2020-01-31").
// A property no object here carries (upnp:artist, upnp:album, ...) matches nothing but
// "exists false".
// Bounds: kMaxSearchCriteriaBytes of text, kMaxSearchTerms tests and kMaxSearchNesting
// parentheses deep.
// Errors: SearchCriteria::Parse throws UpnpError 708 for criteria that do not parse.
// Pure once parsed, safe from any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::dlna {

// What GetSearchCapabilities answers: the properties Search tests.
inline constexpr const char* kSearchCapabilities =
    "upnp:class,dc:title,dc:date,@id,@parentID,@refID,res,res@size,res@duration";

// Longer criteria than any player sends (a title search over ten properties is under 1 KiB) are
// refused before they are parsed; deeper nesting too, as the parser recurses once a level.
inline constexpr std::size_t kMaxSearchCriteriaBytes = 16 * 1024;
inline constexpr int kMaxSearchNesting = 32;
// Each object a walk found is tested against every term: a player's criteria hold a dozen at most.
inline constexpr int kMaxSearchTerms = 64;

// One object as the criteria see it.
struct SearchFacts {
  std::string_view upnpClass;
  std::string_view title;
  std::string_view id;
  std::string_view parentId;
  bool container = false;
  std::optional<std::uint64_t> size;        // res@size, where known (items only)
  std::optional<std::uint64_t> durationMs;  // res@duration, where known (items only)
  std::string_view date;                    // dc:date as the DIDL writes it ("": none)
};

class SearchCriteria {
 public:
  // Throws UpnpError 708 when the text is no criteria.
  static SearchCriteria Parse(std::string_view text);

  bool Matches(const SearchFacts& object) const;
  // Whether the criteria test res@size, res@duration or dc:date (knowing them costs a query a
  // file).
  bool NeedsSize() const { return needsSize_; }
  bool NeedsDuration() const { return needsDuration_; }
  bool NeedsDate() const { return needsDate_; }

  struct Node;  // the parsed expression

 private:
  std::shared_ptr<const Node> root_;  // null: "*"
  bool needsSize_ = false;
  bool needsDuration_ = false;
  bool needsDate_ = false;
};

}  // namespace tovi::dlna

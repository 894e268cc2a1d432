#include "http/byte_range.h"

#include <algorithm>
#include <limits>
#include <optional>

#include "http/header_list.h"
#include "http/header_values.h"

namespace tovi::http {
namespace {

// Digits only, within 64 bits.
std::optional<std::uint64_t> PositionOf(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kLargest - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// "first-last", "first-" or "-count".
std::optional<ByteRangeSpec> SpecOf(std::string_view text) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view firstText = text.substr(0, dash);
  const std::string_view lastText = text.substr(dash + 1);
  ByteRangeSpec spec;
  if (firstText.empty()) {
    const std::optional<std::uint64_t> count = PositionOf(lastText);
    if (!count) return std::nullopt;
    spec.suffix = spec.hasLast = true;
    spec.last = *count;
    return spec;
  }
  const std::optional<std::uint64_t> first = PositionOf(firstText);
  if (!first) return std::nullopt;
  spec.first = *first;
  if (lastText.empty()) return spec;
  const std::optional<std::uint64_t> last = PositionOf(lastText);
  if (!last || *last < *first) return std::nullopt;
  spec.hasLast = true;
  spec.last = *last;
  return spec;
}

// "0-" asks for the whole body, whatever its size: players open a file so and expect the plain
// answer, an empty file's included.
bool AsksForWhole(const ByteRangeSpec& spec) {
  return !spec.suffix && spec.first == 0 && !spec.hasLast;
}

bool Satisfiable(const ByteRangeSpec& spec, std::uint64_t fileSize) {
  if (spec.suffix) return spec.last > 0 && fileSize > 0;
  return AsksForWhole(spec) || spec.first < fileSize;
}

// The answer to one range the body can satisfy.
RangeAnswer ResolveSpec(const ByteRangeSpec& spec, std::uint64_t fileSize, std::uint64_t* first,
                        std::uint64_t* length) {
  if (spec.suffix) {
    *length = std::min(spec.last, fileSize);
    *first = fileSize - *length;
    return RangeAnswer::Partial;
  }
  if (AsksForWhole(spec)) return RangeAnswer::Whole;
  const std::uint64_t lastByte = spec.hasLast ? std::min(spec.last, fileSize - 1) : fileSize - 1;
  *first = spec.first;
  *length = lastByte - spec.first + 1;
  return RangeAnswer::Partial;
}

}  // namespace

ByteRange ParseByteRange(std::string_view value) {
  const std::size_t equals = value.find('=');
  if (equals == std::string_view::npos ||
      !SameText(Trim(std::string(value.substr(0, equals))), "bytes"))
    return {};
  ByteRange range;
  const bool valid = ForEachListElement(value.substr(equals + 1), [&range](std::string_view item) {
    const std::optional<ByteRangeSpec> spec = SpecOf(item);
    if (!spec || range.specs.size() == kMaxRangeSpecs) return false;
    range.specs.push_back(*spec);
    return true;
  });
  return valid ? range : ByteRange{};
}

RangeAnswer ResolveRange(const ByteRange& range, std::uint64_t fileSize, std::uint64_t* first,
                         std::uint64_t* length) {
  *first = 0;
  *length = fileSize;
  if (!range.Present()) return RangeAnswer::Whole;
  for (const ByteRangeSpec& spec : range.specs) {
    if (Satisfiable(spec, fileSize)) return ResolveSpec(spec, fileSize, first, length);
  }
  *length = 0;
  return RangeAnswer::Unsatisfiable;
}

}  // namespace tovi::http

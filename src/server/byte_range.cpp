#include "server/byte_range.h"

#include <algorithm>

namespace tovi::server {

RangeAnswer ResolveRange(const ByteRange& range, std::uint64_t fileSize, std::uint64_t* first,
                         std::uint64_t* length) {
  *first = 0;
  *length = fileSize;
  if (!range.present) return RangeAnswer::Whole;
  if (range.suffix) {
    if (range.last == 0 || fileSize == 0) return RangeAnswer::Unsatisfiable;
    *length = std::min(range.last, fileSize);
    *first = fileSize - *length;
    return RangeAnswer::Partial;
  }
  // A syntactically invalid range is ignored, as if the header were absent.
  if (range.hasLast && range.last < range.first) return RangeAnswer::Whole;
  if (range.first == 0 && !range.hasLast) return RangeAnswer::Whole;
  if (range.first >= fileSize) {
    *length = 0;
    return RangeAnswer::Unsatisfiable;
  }
  const std::uint64_t lastByte = range.hasLast ? std::min(range.last, fileSize - 1) : fileSize - 1;
  *first = range.first;
  *length = lastByte - range.first + 1;
  return RangeAnswer::Partial;
}

}  // namespace tovi::server

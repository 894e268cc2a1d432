// A request's Range (RFC 9110 §14) as both of its halves: the byte ranges its header asks for,
// read from the header's value, and the one answer a body of a given size gets.
// What is honoured: the unit "bytes" (any case), one range or a list of them. The header counts
// as absent (the whole body, 200) when it names another unit, is not valid throughout (a
// position that is not digits or passes 64 bits, a last byte before the first), or lists more
// than kMaxRangeSpecs ranges. One range is served: of a list, the first the body can satisfy
// (a multipart answer is one players do not read; the first range is the one they need first).
// Pure: no I/O, safe from any thread. Sizes and offsets are 64-bit, so files of any size work.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tovi::http {

// Players ask for one range; a longer list is ignored, as RFC 9110 allows, so a peer's list
// costs no more than this many ranges kept.
inline constexpr std::size_t kMaxRangeSpecs = 16;

struct ByteRangeSpec {     // one range of the list
  std::uint64_t first = 0;
  bool hasLast = false;    // "100-" has no last byte
  std::uint64_t last = 0;  // inclusive
  bool suffix = false;     // "-500": the last 500 bytes (last holds 500)
};

struct ByteRange {                   // what the Range header asked for
  std::vector<ByteRangeSpec> specs;  // in the header's order; none: no range to honour
  bool Present() const { return !specs.empty(); }
};

// The ranges of a Range header's value ("bytes=0-99, -500"); none when it is to be ignored.
ByteRange ParseByteRange(std::string_view value);

enum class RangeAnswer { Whole, Partial, Unsatisfiable };

// Whole: 200 and the whole body (no range, or "bytes=0-" chosen).
// Partial: 206 with *first and *length set; a last byte at or past the end means the end.
// Unsatisfiable: 416 with "Content-Range: bytes */size" (no range starts before the end, and
// no suffix is longer than 0 bytes of a body longer than 0).
RangeAnswer ResolveRange(const ByteRange& range, std::uint64_t fileSize, std::uint64_t* first,
                         std::uint64_t* length);

}  // namespace tovi::http

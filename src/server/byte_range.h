// Resolves a request's byte range against a file's size, as players expect (RFC 7233).
// Pure: no I/O, safe from any thread. Sizes and offsets are 64-bit, so files of any size work.
#pragma once
#include <cstdint>

namespace tovi::server {

struct ByteRange {        // what the Range header said
  bool present = false;
  std::uint64_t first = 0;
  bool hasLast = false;   // "bytes=100-" has no last byte
  std::uint64_t last = 0; // inclusive
  bool suffix = false;    // "bytes=-500": the last 500 bytes (last holds 500)
};

enum class RangeAnswer { Whole, Partial, Unsatisfiable };

// Whole: 200 and the whole file (no range, "bytes=0-", or a last byte before the first).
// Partial: 206 with *first and *length set; a last byte at or past the end means the end.
// Unsatisfiable: 416 with "Content-Range: bytes */size" (start at or past the end, or an
// empty suffix).
RangeAnswer ResolveRange(const ByteRange& range, std::uint64_t fileSize, std::uint64_t* first,
                         std::uint64_t* length);

}  // namespace tovi::server

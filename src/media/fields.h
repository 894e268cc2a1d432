// What the readers of media headers share: fixed-width integers in either byte order, a window
// that keeps the last read so that a walk over small boxes costs one read per window, and the
// arithmetic from counts and rates to milliseconds that neither divides by zero nor overflows.
// Bounds: a Window reads through its ByteSource, so the source's budget bounds it; a field read
// past the end of its bytes is 0 and the caller checks lengths first.
// Thread safety: a Window belongs to one reader at a time; the free functions are pure.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "media/facts.h"

namespace tovi::media {

// A playing time no file has: a header that says more than this (ten days) lies.
constexpr std::uint64_t kMaxPlausibleDurationMs = 10ull * 24 * 3600 * 1000;

// Unsigned integer of width bytes (1..8) at at, most significant byte first; 0 past the end.
std::uint64_t ReadBE(std::string_view bytes, std::size_t at, int width);
// Same, least significant byte first.
std::uint64_t ReadLE(std::string_view bytes, std::size_t at, int width);
// ID3v2's 28-bit size, seven bits to a byte.
std::uint32_t ReadSyncSafe(std::string_view bytes, std::size_t at);

// units / unitsPerSecond in milliseconds; nothing for a zero rate or an implausible length.
std::optional<std::uint64_t> DurationMs(std::uint64_t units, std::uint64_t unitsPerSecond);
// bytes over durationMs as bytes per second; nothing for a zero or unrepresentable rate.
std::optional<std::uint32_t> BytesPerSecond(std::uint64_t bytes, std::uint64_t durationMs);

// Bytes of a source read a window at a time: Get serves what the last window holds and reads a
// new window only for bytes outside it.
class Window {
 public:
  // Large enough that a file's headers usually fit in one read, small beside the 1 MiB budget.
  static constexpr std::size_t kDefaultBytes = 64 * 1024;

  explicit Window(ByteSource& source, std::size_t windowBytes = kDefaultBytes)
      : source_(source), windowBytes_(windowBytes) {}
  // The length bytes at offset, or an empty view when the file or the budget ends before them.
  // The view lives until the next Get.
  std::string_view Get(std::uint64_t offset, std::size_t length);
  std::uint64_t Size() const { return source_.Size(); }

 private:
  ByteSource& source_;
  std::size_t windowBytes_;
  std::uint64_t start_ = 0;
  std::string bytes_;
};

// The size in bytes of the ID3v2 tags at the start of a file (header, footer and any tag that
// follows at once), 0 when there is none.
std::uint64_t Id3v2Length(Window& window);

}  // namespace tovi::media

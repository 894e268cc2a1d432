// What the container readers share: numbers in either byte order out of a byte view, a read
// window that serves many small header reads from one read of the source, and the sanity
// checks that turn a header's units into facts.
// Bounds: a window holds at most kWindowBytes (or one larger request), and every refill is a
// read of the source, so the source's budget (facts.h) bounds the whole walk. Out-of-range
// positions give short views, never a read past a buffer.
// Thread safety: a ReadWindow belongs to one reader run; the functions are pure.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "media/facts.h"

namespace tovi::media {

// Unsigned integers of width bytes at offset in bytes; 0 when the view is too short, so a
// truncated header reads as an absent value instead of past the end.
std::uint64_t BigEndian(std::string_view bytes, std::size_t offset, std::size_t width);
std::uint64_t LittleEndian(std::string_view bytes, std::size_t offset, std::size_t width);
// An IEEE 754 number of 4 or 8 bytes, big-endian (as EBML stores them); NaN when too short.
double BigEndianFloat(std::string_view bytes, std::size_t offset, std::size_t width);

class ReadWindow {
 public:
  // One read brings this much: a whole small header (or a moov of a short film) at once, so a
  // reader walking boxes spends a read per jump, not per box.
  static constexpr std::size_t kWindowBytes = 32 * 1024;

  explicit ReadWindow(ByteSource& source) : source_(source) {}
  std::uint64_t Size() const { return source_.Size(); }
  // Up to length bytes at offset, fewer at the end of the file or of the budget. The view
  // lives until the next call.
  std::string_view Bytes(std::uint64_t offset, std::size_t length);

 private:
  ByteSource& source_;
  std::uint64_t start_ = 0;
  std::string buffer_;
};

// The longest playing time believed: a header saying more (2^64 ticks, a zero rate turned
// huge) is lying, and its file goes without a duration.
inline constexpr std::uint64_t kMaxDurationMs = 1000ull * 3600 * 24 * 366;  // a year

// ticks / ticksPerSecond in milliseconds; nothing for a zero rate, a length under 1 ms or one
// past kMaxDurationMs.
std::optional<std::uint64_t> DurationMs(std::uint64_t ticks, std::uint64_t ticksPerSecond);
// The same from seconds as a float (EBML's Duration): nothing for NaN, negatives, infinities.
std::optional<std::uint64_t> DurationMs(double seconds);
// Bytes per second of a file of size bytes playing durationMs; nothing when either is zero.
std::optional<std::uint32_t> BytesPerSecond(std::uint64_t size, std::uint64_t durationMs);
// A picture dimension or sound count taken from a header: nothing for 0 or past limit.
std::optional<std::uint32_t> Positive(std::uint64_t value, std::uint64_t limit);

// The largest picture side believed (pixels) and the most channels and the highest rate.
inline constexpr std::uint64_t kMaxPictureSide = 65535;
inline constexpr std::uint64_t kMaxChannels = 255;
inline constexpr std::uint64_t kMaxSampleRate = 1'000'000;

}  // namespace tovi::media

#include "media/reading.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace tovi::media {

std::uint64_t BigEndian(std::string_view bytes, std::size_t offset, std::size_t width) {
  if (offset > bytes.size() || bytes.size() - offset < width || width > 8) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < width; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

std::uint64_t LittleEndian(std::string_view bytes, std::size_t offset, std::size_t width) {
  if (offset > bytes.size() || bytes.size() - offset < width || width > 8) return 0;
  std::uint64_t value = 0;
  for (std::size_t i = width; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

double BigEndianFloat(std::string_view bytes, std::size_t offset, std::size_t width) {
  if (offset > bytes.size() || bytes.size() - offset < width) return std::numeric_limits<double>::quiet_NaN();
  if (width == 4) {
    const auto bits = static_cast<std::uint32_t>(BigEndian(bytes, offset, 4));
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  if (width == 8) {
    const std::uint64_t bits = BigEndian(bytes, offset, 8);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  return std::numeric_limits<double>::quiet_NaN();
}

std::string_view ReadWindow::Bytes(std::uint64_t offset, std::size_t length) {
  const std::uint64_t end = start_ + buffer_.size();
  const bool inside = offset >= start_ && offset <= end;
  // Served from the window when it holds the whole request, or all the file has from there.
  if (inside && (end - offset >= length || end == Size())) {
    const auto from = static_cast<std::size_t>(offset - start_);
    return std::string_view(buffer_).substr(from, length);
  }
  start_ = offset;
  buffer_ = source_.ReadString(offset, std::max(length, kWindowBytes));
  return std::string_view(buffer_).substr(0, length);
}

std::optional<std::uint64_t> DurationMs(std::uint64_t ticks, std::uint64_t ticksPerSecond) {
  if (ticks == 0 || ticksPerSecond == 0) return std::nullopt;
  const std::uint64_t seconds = ticks / ticksPerSecond;
  if (seconds > kMaxDurationMs / 1000) return std::nullopt;
  // The remainder is below ticksPerSecond, so its product with 1000 cannot overflow unless
  // the rate is past 2^54: then the remainder's milliseconds are computed in floating point.
  const std::uint64_t rest = ticks % ticksPerSecond;
  const std::uint64_t restMs = ticksPerSecond < (1ull << 54)
      ? rest * 1000 / ticksPerSecond
      : static_cast<std::uint64_t>(static_cast<double>(rest) / static_cast<double>(ticksPerSecond) * 1000);
  // A length under a millisecond (a file cut after its first frame) is none, as zero ticks are.
  if (seconds == 0 && restMs == 0) return std::nullopt;
  return seconds * 1000 + restMs;
}

std::optional<std::uint64_t> DurationMs(double seconds) {
  if (!std::isfinite(seconds) || seconds <= 0 || seconds * 1000 > static_cast<double>(kMaxDurationMs)) {
    return std::nullopt;
  }
  const auto ms = static_cast<std::uint64_t>(std::llround(seconds * 1000));
  if (ms == 0) return std::nullopt;
  return ms;
}

std::optional<std::uint32_t> BytesPerSecond(std::uint64_t size, std::uint64_t durationMs) {
  if (size == 0 || durationMs == 0) return std::nullopt;
  const std::uint64_t seconds = durationMs / 1000;
  // size * 1000 overflows past 2^54 bytes; such a file is divided by whole seconds.
  const std::uint64_t rate = size < (1ull << 54) ? size * 1000 / durationMs : size / std::max<std::uint64_t>(seconds, 1);
  if (rate == 0 || rate > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(rate);
}

std::optional<std::uint32_t> Positive(std::uint64_t value, std::uint64_t limit) {
  if (value == 0 || value > limit) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace tovi::media

#include "media/fields.h"

#include <algorithm>
#include <limits>

namespace tovi::media {

namespace {
constexpr std::size_t kId3HeaderBytes = 10;
// Some files carry a tag appended to a tag; a chain longer than this is a lie.
constexpr int kMaxId3Tags = 4;
}  // namespace

std::uint64_t ReadBE(std::string_view bytes, std::size_t at, int width) {
  if (at > bytes.size() || bytes.size() - at < static_cast<std::size_t>(width)) return 0;
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint64_t ReadLE(std::string_view bytes, std::size_t at, int width) {
  if (at > bytes.size() || bytes.size() - at < static_cast<std::size_t>(width)) return 0;
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

std::uint32_t ReadSyncSafe(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = value << 7 | (ReadBE(bytes, at + i, 1) & 0x7f);
  return value;
}

std::optional<std::uint64_t> DurationMs(std::uint64_t units, std::uint64_t unitsPerSecond) {
  if (unitsPerSecond == 0) return std::nullopt;
  const std::uint64_t seconds = units / unitsPerSecond;
  if (seconds > kMaxPlausibleDurationMs / 1000) return std::nullopt;
  // The remainder is below the rate, so its product with 1000 overflows only for rates past 2^54.
  const long double fraction =
      static_cast<long double>(units % unitsPerSecond) * 1000 / static_cast<long double>(unitsPerSecond);
  return seconds * 1000 + static_cast<std::uint64_t>(fraction + 0.5L);
}

std::optional<std::uint32_t> BytesPerSecond(std::uint64_t bytes, std::uint64_t durationMs) {
  if (durationMs == 0) return std::nullopt;
  const long double rate = static_cast<long double>(bytes) * 1000 / static_cast<long double>(durationMs);
  if (rate < 1 || rate > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(rate + 0.5L);
}

std::string_view Window::Get(std::uint64_t offset, std::size_t length) {
  if (offset >= start_ && offset - start_ <= bytes_.size() &&
      bytes_.size() - (offset - start_) >= length)
    return std::string_view(bytes_).substr(offset - start_, length);
  if (offset >= source_.Size() || source_.Size() - offset < length) return {};
  start_ = offset;
  bytes_ = source_.ReadString(offset, std::max(length, windowBytes_));
  if (bytes_.size() < length) return {};
  return std::string_view(bytes_).substr(0, length);
}

std::uint64_t Id3v2Length(Window& window) {
  std::uint64_t length = 0;
  for (int tag = 0; tag < kMaxId3Tags; ++tag) {
    const std::string_view head = window.Get(length, kId3HeaderBytes);
    if (head.substr(0, 3) != "ID3") break;
    const bool footer = ReadBE(head, 5, 1) & 0x10;
    length += kId3HeaderBytes + ReadSyncSafe(head, 6) + (footer ? kId3HeaderBytes : 0);
  }
  return length;
}

}  // namespace tovi::media

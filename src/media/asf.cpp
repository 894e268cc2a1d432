#include "media/asf.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "media/reading.h"

namespace tovi::media {
namespace {

// Objects in the Header Object: a dozen in a usual file, one per stream and per metadata kind.
constexpr int kMaxObjects = 256;
// The most of an object a reader needs (File Properties is 104 bytes; a Stream Properties'
// type-specific data starts at 78 and its picture header ends 23 bytes later).
constexpr std::size_t kMaxObjectBytes = 128;
// An object's GUID and 64-bit size; the Header Object adds a count and two reserved bytes.
constexpr std::uint64_t kObjectHeaderBytes = 24;
constexpr std::uint64_t kHeaderObjectBytes = 30;
// Play duration counts 100 ns units; the preroll milliseconds.
constexpr std::uint64_t kDurationUnitsPerSecond = 10'000'000;
constexpr std::uint64_t kBroadcastFlag = 1;

// GUIDs as they lie in the file (the first three fields little-endian).
constexpr std::string_view kHeaderObject("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
constexpr std::string_view kFileProperties("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
constexpr std::string_view kStreamProperties("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
constexpr std::string_view kAudioMedia("\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
constexpr std::string_view kVideoMedia("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);

void ReadFileProperties(std::string_view object, MediaFacts& facts) {
  if (object.size() < 104) return;
  const std::uint64_t playDuration = LittleEndian(object, 64, 8);
  const std::uint64_t prerollMs = LittleEndian(object, 80, 8);
  const std::uint64_t flags = LittleEndian(object, 88, 4);
  const std::uint64_t maxBitsPerSecond = LittleEndian(object, 100, 4);
  if (!(flags & kBroadcastFlag)) {
    const std::optional<std::uint64_t> playMs = DurationMs(playDuration, kDurationUnitsPerSecond);
    if (playMs && *playMs > prerollMs) facts.durationMs = *playMs - prerollMs;
  }
  if (maxBitsPerSecond >= 8) facts.bitrate = static_cast<std::uint32_t>(maxBitsPerSecond / 8);
}

// Type-specific data: a sound's WAVEFORMATEX; a picture's encoded size, a flag byte, a format
// size and then its BITMAPINFOHEADER.
void ReadStreamProperties(std::string_view object, MediaFacts& facts) {
  constexpr std::size_t kTypeSpecific = 78;
  if (object.size() < kTypeSpecific) return;
  const std::string_view type = object.substr(kObjectHeaderBytes, 16);
  const std::string_view data = object.substr(kTypeSpecific);
  if (type == kAudioMedia && !facts.channels) {
    facts.channels = Positive(LittleEndian(data, 2, 2), kMaxChannels);
    facts.sampleRate = Positive(LittleEndian(data, 4, 4), kMaxSampleRate);
  } else if (type == kVideoMedia && !facts.width) {
    const auto width = static_cast<std::int32_t>(LittleEndian(data, 15, 4));
    const auto height = static_cast<std::int32_t>(LittleEndian(data, 19, 4));
    facts.width = Positive(static_cast<std::uint64_t>(std::llabs(width)), kMaxPictureSide);
    facts.height = Positive(static_cast<std::uint64_t>(std::llabs(height)), kMaxPictureSide);
    if (!facts.width || !facts.height) {
      facts.width = Positive(LittleEndian(data, 0, 4), kMaxPictureSide);
      facts.height = Positive(LittleEndian(data, 4, 4), kMaxPictureSide);
    }
  }
}

}  // namespace

std::optional<MediaFacts> ReadAsfFacts(ByteSource& source) {
  ReadWindow window(source);
  const std::string_view header = window.Bytes(0, kHeaderObjectBytes);
  if (header.size() < kHeaderObjectBytes || header.substr(0, 16) != kHeaderObject) return std::nullopt;
  // A size past the file is cut to it: a file cut short still shows its header.
  const std::uint64_t headerEnd = std::min(LittleEndian(header, 16, 8), source.Size());
  MediaFacts facts;
  std::uint64_t at = kHeaderObjectBytes;
  for (int i = 0; i < kMaxObjects && at < headerEnd && headerEnd - at >= kObjectHeaderBytes; ++i) {
    const std::string_view object = window.Bytes(at, kMaxObjectBytes);
    const std::uint64_t size = LittleEndian(object, 16, 8);
    if (object.size() < kObjectHeaderBytes || size < kObjectHeaderBytes || size > headerEnd - at) break;
    const std::string_view body = object.substr(0, std::min<std::uint64_t>(size, object.size()));
    const std::string_view guid = object.substr(0, 16);
    if (guid == kFileProperties) ReadFileProperties(body, facts);
    if (guid == kStreamProperties) ReadStreamProperties(body, facts);
    at += size;
  }
  if (!facts.bitrate && facts.durationMs) facts.bitrate = BytesPerSecond(source.Size(), *facts.durationMs);
  if (facts.Empty()) return std::nullopt;
  return facts;
}

}  // namespace tovi::media

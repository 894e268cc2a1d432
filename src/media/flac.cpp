#include "media/flac.h"

#include "media/id3.h"
#include "media/reading.h"

namespace tovi::media {

namespace {
constexpr std::size_t kMarkerBytes = 4;
constexpr std::size_t kBlockHeaderBytes = 4;
constexpr std::size_t kStreamInfoBytes = 34;
}  // namespace

std::optional<MediaFacts> ReadFlacFacts(ByteSource& source) {
  ReadWindow window(source);
  const std::uint64_t start = Id3v2Length(window);
  const std::string_view head = window.Bytes(start, kMarkerBytes + kBlockHeaderBytes + kStreamInfoBytes);
  // STREAMINFO is always the first metadata block.
  if (head.size() < kMarkerBytes + kBlockHeaderBytes + kStreamInfoBytes || head.substr(0, 4) != "fLaC" ||
      (BigEndian(head, 4, 1) & 0x7f) != 0 || BigEndian(head, 5, 3) < kStreamInfoBytes)
    return std::nullopt;
  const std::string_view info = head.substr(kMarkerBytes + kBlockHeaderBytes);
  // Bits from byte 10: 20 of rate, 3 of channels - 1, 5 of bits per sample - 1, 36 of samples.
  const std::uint64_t packed = BigEndian(info, 10, 8);
  const std::uint32_t rate = static_cast<std::uint32_t>(packed >> 44);
  if (rate == 0) return std::nullopt;
  MediaFacts facts;
  facts.sampleRate = rate;
  facts.channels = static_cast<std::uint32_t>((packed >> 41 & 0x7) + 1);
  const std::uint64_t samples = packed & 0xfffffffffull;
  if (samples != 0) facts.durationMs = DurationMs(samples, rate);  // 0: the encoder did not know
  if (facts.durationMs) facts.bitrate = BytesPerSecond(window.Size(), *facts.durationMs);
  return facts;
}

}  // namespace tovi::media

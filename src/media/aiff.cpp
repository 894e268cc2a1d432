#include "media/aiff.h"

#include "media/reading.h"

namespace tovi::media {

namespace {

// COMM and SSND, a few of names, comments and markers; more than this is a loop.
constexpr int kMaxAiffChunks = 64;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kCommBytes = 18;
// AIFF-C's compression type follows the 18 bytes; for these packed codings the frame count is
// one of packets, each this many samples.
struct PacketSamples {
  std::string_view compression;
  std::uint64_t samples;
};
constexpr PacketSamples kPacketSamples[] = {{"ima4", 64}, {"MAC3", 6}, {"MAC6", 6}, {"GSM ", 160}};

// The whole hertz of an 80-bit extended number (sign, 15 bits of exponent, 64 of mantissa with
// its integer bit); 0 for a negative, a fraction under 1 Hz or past kMaxSampleRate.
std::uint64_t ExtendedHz(std::string_view bytes) {
  const std::uint64_t signAndExponent = BigEndian(bytes, 0, 2);
  const std::uint64_t mantissa = BigEndian(bytes, 2, 8);
  constexpr std::uint64_t kBias = 16383;
  if (signAndExponent & 0x8000 || signAndExponent < kBias || signAndExponent > kBias + 63) return 0;
  return mantissa >> (63 - (signAndExponent - kBias));
}

}  // namespace

std::optional<MediaFacts> ReadAiffFacts(ByteSource& source) {
  ReadWindow window(source);
  const std::string_view form = window.Bytes(0, 12);
  if (form.size() < 12 || form.substr(0, 4) != "FORM" ||
      (form.substr(8, 4) != "AIFF" && form.substr(8, 4) != "AIFC"))
    return std::nullopt;
  const bool aifc = form.substr(8, 4) == "AIFC";
  std::uint64_t at = 12;
  for (int chunk = 0; chunk < kMaxAiffChunks; ++chunk) {
    const std::string_view head = window.Bytes(at, kChunkHeaderBytes);
    if (head.size() < kChunkHeaderBytes) break;
    const std::uint64_t length = BigEndian(head, 4, 4);
    if (head.substr(0, 4) == "COMM") {
      const std::string_view comm = window.Bytes(at + kChunkHeaderBytes, kCommBytes + 4);
      if (comm.size() < kCommBytes) return std::nullopt;
      std::uint64_t frames = BigEndian(comm, 2, 4);
      for (const PacketSamples& packed : kPacketSamples) {
        if (aifc && comm.substr(kCommBytes) == packed.compression) {
          frames *= packed.samples;
        }
      }
      MediaFacts facts;
      facts.channels = Positive(BigEndian(comm, 0, 2), kMaxChannels);
      const std::uint64_t rate = ExtendedHz(comm.substr(8));
      facts.sampleRate = Positive(rate, kMaxSampleRate);
      if (!facts.channels || !facts.sampleRate) return std::nullopt;
      facts.durationMs = DurationMs(frames, rate);
      if (facts.durationMs) facts.bitrate = BytesPerSecond(source.Size(), *facts.durationMs);
      return facts;
    }
    at += kChunkHeaderBytes + length + (length & 1);  // chunks are padded to an even length
  }
  return std::nullopt;
}

}  // namespace tovi::media

#include "media/wav.h"

#include <algorithm>

#include "media/fields.h"

namespace tovi::media {

namespace {

// A WAVE file has fmt, data and a few lists (INFO, cue, bext); more than this is a loop.
constexpr int kMaxWavChunks = 64;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kFmtBytes = 16;

struct WavFormat {
  std::uint32_t channels = 0, sampleRate = 0, byteRate = 0;
};

WavFormat ParseFmt(std::string_view fmt) {
  return {static_cast<std::uint32_t>(ReadLE(fmt, 2, 2)), static_cast<std::uint32_t>(ReadLE(fmt, 4, 4)),
          static_cast<std::uint32_t>(ReadLE(fmt, 8, 4))};
}

std::optional<MediaFacts> Facts(const WavFormat& format, std::uint64_t dataBytes) {
  if (format.channels == 0 || format.sampleRate == 0) return std::nullopt;
  MediaFacts facts;
  facts.channels = format.channels;
  facts.sampleRate = format.sampleRate;
  if (format.byteRate != 0) facts.bitrate = format.byteRate;
  facts.durationMs = DurationMs(dataBytes, format.byteRate);
  return facts;
}

}  // namespace

std::optional<MediaFacts> ReadWavFacts(ByteSource& source) {
  Window window(source);
  const std::string_view riff = window.Get(0, 12);
  if (riff.substr(0, 4) != "RIFF" || riff.substr(8, 4) != "WAVE") return std::nullopt;
  std::optional<WavFormat> format;
  std::uint64_t at = 12;
  for (int chunk = 0; chunk < kMaxWavChunks; ++chunk) {
    const std::string_view head = window.Get(at, kChunkHeaderBytes);
    if (head.empty()) break;
    const std::uint64_t length = ReadLE(head, 4, 4);
    const std::uint64_t body = at + kChunkHeaderBytes;
    if (head.substr(0, 4) == "fmt ") {
      const std::string_view fmt = window.Get(body, kFmtBytes);
      if (fmt.empty()) return std::nullopt;
      format = ParseFmt(fmt);
    } else if (head.substr(0, 4) == "data") {
      if (!format) return std::nullopt;
      return Facts(*format, std::min(length, window.Size() - body));
    }
    at = body + length + (length & 1);  // chunks are padded to an even length
  }
  return std::nullopt;
}

}  // namespace tovi::media

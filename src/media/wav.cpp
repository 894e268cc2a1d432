#include "media/wav.h"

#include <algorithm>

#include "media/reading.h"

namespace tovi::media {

namespace {

// A WAVE file has fmt, data and a few lists (INFO, cue, bext); more than this is a loop.
constexpr int kMaxWavChunks = 64;
constexpr std::size_t kChunkHeaderBytes = 8;
constexpr std::size_t kFmtBytes = 16;
// An RF64 file's data size that says "see the ds64 chunk", where sizes past 4 GiB are kept; in a
// RIFF file past 4 GiB (a writer that could not go back), or without ds64, the data runs to the
// file's end.
constexpr std::uint64_t kSizeInDs64 = 0xffffffff;

struct WavFormat {
  std::uint32_t tag = 0, channels = 0, sampleRate = 0, byteRate = 0;
  // PCM and float samples: bytes over the byte rate is the length. Coded ones (ADPCM, GSM...)
  // have a nominal byte rate; their fact chunk counts the samples.
  bool Plain() const { return tag == 1 || tag == 3 || tag == 0xfffe; }
};

WavFormat ParseFmt(std::string_view fmt) {
  return {static_cast<std::uint32_t>(LittleEndian(fmt, 0, 2)),
          static_cast<std::uint32_t>(LittleEndian(fmt, 2, 2)),
          static_cast<std::uint32_t>(LittleEndian(fmt, 4, 4)),
          static_cast<std::uint32_t>(LittleEndian(fmt, 8, 4))};
}

std::optional<MediaFacts> Facts(const WavFormat& format, std::uint64_t dataBytes,
                                std::optional<std::uint64_t> samples) {
  MediaFacts facts;
  facts.channels = Positive(format.channels, kMaxChannels);
  facts.sampleRate = Positive(format.sampleRate, kMaxSampleRate);
  if (!facts.channels || !facts.sampleRate) return std::nullopt;
  if (format.byteRate != 0) facts.bitrate = format.byteRate;
  facts.durationMs = !format.Plain() && samples ? DurationMs(*samples, format.sampleRate)
                                                : DurationMs(dataBytes, format.byteRate);
  return facts;
}

}  // namespace

std::optional<MediaFacts> ReadWavFacts(ByteSource& source) {
  ReadWindow window(source);
  const std::string_view riff = window.Bytes(0, 12);
  const bool rf64 = riff.substr(0, 4) == "RF64";
  if (riff.size() < 12 || (riff.substr(0, 4) != "RIFF" && !rf64) || riff.substr(8, 4) != "WAVE")
    return std::nullopt;
  std::optional<WavFormat> format;
  std::optional<std::uint64_t> ds64DataBytes;
  std::optional<std::uint64_t> samples;  // the fact chunk's count
  std::uint64_t at = 12;
  for (int chunk = 0; chunk < kMaxWavChunks; ++chunk) {
    const std::string_view head = window.Bytes(at, kChunkHeaderBytes);
    if (head.size() < kChunkHeaderBytes) break;
    const std::uint64_t length = LittleEndian(head, 4, 4);
    const std::uint64_t body = at + kChunkHeaderBytes;
    if (head.substr(0, 4) == "fmt ") {
      const std::string_view fmt = window.Bytes(body, kFmtBytes);
      if (fmt.size() < kFmtBytes) return std::nullopt;
      format = ParseFmt(fmt);
    } else if (head.substr(0, 4) == "ds64" && rf64) {
      ds64DataBytes = LittleEndian(window.Bytes(body + 8, 8), 0, 8);
    } else if (head.substr(0, 4) == "fact" && length >= 4) {
      const std::string_view fact = window.Bytes(body, 4);
      if (fact.size() == 4 && LittleEndian(fact, 0, 4) != 0) samples = LittleEndian(fact, 0, 4);
    } else if (head.substr(0, 4) == "data") {
      if (!format) return std::nullopt;
      // A size of 0 is one a recorder never went back to write (stopped or still recording):
      // the data runs to the file's end then too.
      const std::uint64_t claimed =
          length == kSizeInDs64 ? ds64DataBytes.value_or(~0ull) : length == 0 ? ~0ull : length;
      return Facts(*format, std::min(claimed, window.Size() - body), samples);
    }
    at = body + length + (length & 1);  // chunks are padded to an even length
  }
  return std::nullopt;
}

}  // namespace tovi::media

#include "media/aac.h"

#include <algorithm>
#include <string>

#include "media/audio_frames.h"
#include "media/frame_stretches.h"
#include "media/id3.h"
#include "media/reading.h"

namespace tovi::media {

namespace {

// Encoders leave no padding before the first frame; past this the file is not ADTS.
constexpr std::size_t kFrameSearchBytes = 64 * 1024;
constexpr std::size_t kHeaderBytes = 7;

// An ADTS header: 13 bits of frame length from bit 30, then the buffer fullness and the count
// of raw data blocks less one, 1024 samples each.
std::optional<AudioFrame> AdtsFrameAt(std::string_view bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < kHeaderBytes) return std::nullopt;
  const std::string_view header = bytes.substr(at, kHeaderBytes);
  auto frame = ParseAdtsFrame(header);
  const auto length = static_cast<std::uint32_t>(BigEndian(header, 3, 3) >> 5 & 0x1fff);
  if (!frame || length < kHeaderBytes) return std::nullopt;
  frame->bytes = length;
  frame->samples *= static_cast<std::uint32_t>(BigEndian(header, 6, 1) & 3) + 1;
  return frame;
}

}  // namespace

std::optional<MediaFacts> ReadAacFacts(ByteSource& source) {
  ReadWindow window(source);
  const std::uint64_t start = Id3v2Length(window);
  const std::uint64_t left = window.Size() - std::min(start, window.Size());
  const auto searched =
      static_cast<std::size_t>(std::min<std::uint64_t>(left, kFrameSearchBytes));
  const std::string head(window.Bytes(start, searched));
  const auto first = FirstFrameOfRun(head, AdtsFrameAt);
  if (!first) return std::nullopt;
  const AudioFrame sound = *AdtsFrameAt(head, *first);
  MediaFacts facts;
  facts.sampleRate = sound.sampleRate;
  facts.channels = sound.channels;
  const std::uint64_t audioBytes = left - *first;
  const FrameTally tally = TallyStretches(
      window, start + *first, audioBytes, sound.bitrateKbps,
      [&](std::string_view bytes, std::size_t at) {
        const auto frame = AdtsFrameAt(bytes, at);
        return frame && frame->sampleRate == sound.sampleRate ? frame : std::nullopt;
      });
  facts.durationMs = TalliedDurationMs(tally, audioBytes, sound.sampleRate);
  if (facts.durationMs) facts.bitrate = BytesPerSecond(audioBytes, *facts.durationMs);
  return facts;
}

}  // namespace tovi::media

#include "media/aac.h"

#include <algorithm>
#include <string>

#include "media/audio_frames.h"
#include "media/id3.h"
#include "media/reading.h"

namespace tovi::media {

namespace {

// Encoders leave no padding before the first frame; past this the file is not ADTS.
constexpr std::size_t kFrameSearchBytes = 64 * 1024;
constexpr std::size_t kHeaderBytes = 7;
constexpr int kStretches = 4;
constexpr std::size_t kStretchBytes = 16 * 1024;

struct Frame {
  AudioFrame sound;
  std::size_t bytes = 0;  // the header's frame length, the header counted
};

// An ADTS header: 13 bits of frame length from bit 30, then the buffer fullness and the count
// of raw data blocks less one, 1024 samples each.
std::optional<Frame> FrameAt(std::string_view bytes, std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < kHeaderBytes) return std::nullopt;
  const std::string_view header = bytes.substr(at, kHeaderBytes);
  auto sound = ParseAdtsFrame(header);
  const auto length = static_cast<std::size_t>(BigEndian(header, 3, 3) >> 5 & 0x1fff);
  if (!sound || length < kHeaderBytes) return std::nullopt;
  sound->samples *= static_cast<std::uint32_t>(BigEndian(header, 6, 1) & 3) + 1;
  return Frame{*sound, length};
}

// Where the first frame whose successor is one too (or that ends the bytes) begins.
std::optional<std::size_t> FirstFrame(std::string_view bytes) {
  for (std::size_t at = 0; at + kHeaderBytes <= bytes.size(); ++at) {
    if (bytes[at] != '\xff') continue;
    const auto frame = FrameAt(bytes, at);
    if (frame && (at + frame->bytes == bytes.size() || FrameAt(bytes, at + frame->bytes))) return at;
  }
  return std::nullopt;
}

}  // namespace

std::optional<MediaFacts> ReadAacFacts(ByteSource& source) {
  ReadWindow window(source);
  const std::uint64_t start = Id3v2Length(window);
  const std::uint64_t left = window.Size() - std::min(start, window.Size());
  const auto searched = static_cast<std::size_t>(std::min<std::uint64_t>(left, kFrameSearchBytes));
  const std::string head(window.Bytes(start, searched));
  const auto first = FirstFrame(head);
  if (!first) return std::nullopt;
  const AudioFrame sound = FrameAt(head, *first)->sound;
  MediaFacts facts;
  facts.sampleRate = sound.sampleRate;
  facts.channels = sound.channels;
  const std::uint64_t audioBytes = left - *first;
  std::uint64_t bytes = 0, samples = 0;
  for (int i = 0; i < kStretches; ++i) {
    const std::uint64_t stretchAt = start + *first + audioBytes / (2 * kStretches) * (2 * i + 1);
    const std::string stretch(window.Bytes(stretchAt, kStretchBytes));
    for (std::size_t at = FirstFrame(stretch).value_or(stretch.size());;) {
      const auto frame = FrameAt(stretch, at);
      if (!frame || frame->sound.sampleRate != sound.sampleRate || frame->bytes > stretch.size() - at) break;
      bytes += frame->bytes;
      samples += frame->sound.samples;
      at += frame->bytes;
    }
  }
  if (bytes > 0) {
    facts.durationMs = DurationMs(static_cast<double>(audioBytes) / static_cast<double>(bytes) *
                                  static_cast<double>(samples) / sound.sampleRate);
  }
  if (facts.durationMs) facts.bitrate = BytesPerSecond(audioBytes, *facts.durationMs);
  return facts;
}

}  // namespace tovi::media

#include "media/frame_stretches.h"

#include <string>

namespace tovi::media {

namespace {

// Four stretches at the middles of the audio's quarters: a lead-in of silence, a louder middle
// and a fade each have their say.
constexpr int kStretches = 4;
constexpr std::size_t kStretchBytes = 16 * 1024;

}  // namespace

std::optional<std::size_t> FirstFrameOfRun(std::string_view bytes, const FrameAt& frameAt) {
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    if (bytes[at] != '\xff') continue;
    const auto frame = frameAt(bytes, at);
    if (!frame || frame->bytes == 0) continue;
    const std::size_t next = at + frame->bytes;
    if (next == bytes.size() || (next < bytes.size() && frameAt(bytes, next))) return at;
  }
  return std::nullopt;
}

FrameTally TallyStretches(ReadWindow& window, std::uint64_t audioStart, std::uint64_t audioBytes,
                          std::uint32_t referenceKbps, const FrameAt& frameAt) {
  FrameTally tally;
  for (int i = 0; i < kStretches; ++i) {
    const std::uint64_t from = audioStart + audioBytes / (2 * kStretches) * (2 * i + 1);
    const std::string stretch(window.Bytes(from, kStretchBytes));
    std::size_t at = FirstFrameOfRun(stretch, frameAt).value_or(stretch.size());
    for (auto frame = frameAt(stretch, at);
         frame && frame->bytes > 0 && frame->bytes <= stretch.size() - at;
         frame = frameAt(stretch, at)) {
      tally.bytes += frame->bytes;
      tally.samples += frame->samples;
      tally.bitratesDiffer = tally.bitratesDiffer || frame->bitrateKbps != referenceKbps;
      at += frame->bytes;
    }
  }
  return tally;
}

std::optional<std::uint64_t> TalliedDurationMs(const FrameTally& tally, std::uint64_t audioBytes,
                                               std::uint32_t sampleRate) {
  if (tally.bytes == 0 || sampleRate == 0) return std::nullopt;
  return DurationMs(static_cast<double>(audioBytes) / static_cast<double>(tally.bytes) *
                    static_cast<double>(tally.samples) / sampleRate);
}

}  // namespace tovi::media

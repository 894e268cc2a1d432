// Sound frames walked in a few stretches amid a file's audio, for streams that keep no count or
// index of their frames (an MP3 without a VBR header, AAC in ADTS): the frames' bytes and
// samples, whose ratio gives the length of all the audio's bytes, however its bitrate varies.
// Bounds: kStretches reads of kStretchBytes through the reader's window, within the source's
// budget. Pure: each call reads only through the window it is given.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "media/audio_frames.h"
#include "media/reading.h"

namespace tovi::media {

// The stream's frame at offset at of bytes, its bytes and samples filled in; nothing where no
// frame of the stream begins there.
using FrameAt = std::function<std::optional<AudioFrame>(std::string_view bytes, std::size_t at)>;

// Where in bytes the first frame begins whose successor is one too, or that ends the bytes.
std::optional<std::size_t> FirstFrameOfRun(std::string_view bytes, const FrameAt& frameAt);

struct FrameTally {
  std::uint64_t bytes = 0, samples = 0;
  bool bitratesDiffer = false;  // a frame's bitrate is not the reference's
};

// The whole frames in a row in each of a few stretches amid the audioBytes from audioStart;
// their bitrates compared with referenceKbps.
FrameTally TallyStretches(ReadWindow& window, std::uint64_t audioStart, std::uint64_t audioBytes,
                          std::uint32_t referenceKbps, const FrameAt& frameAt);

// audioBytes at the tally's samples per byte; nothing for an empty tally.
std::optional<std::uint64_t> TalliedDurationMs(const FrameTally& tally, std::uint64_t audioBytes,
                                               std::uint32_t sampleRate);

}  // namespace tovi::media

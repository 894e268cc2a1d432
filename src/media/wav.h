// A RIFF WAVE file's sound from its fmt chunk (channels, rate, bytes per second) and its length
// from the data chunk's size (an RF64 file's from its ds64 chunk; cut to the file's end when it
// claims more, as a recording stopped early leaves it). Nothing for another or a damaged file.
// Bounds: at most kMaxWavChunks chunks are walked, within the source's read budget.
// Pure and stateless: safe from any thread with a source of its own.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadWavFacts(ByteSource& source);

}  // namespace tovi::media

// An AIFF or AIFF-C file's sound from its COMM chunk: channels, sample frames and the rate (an
// 80-bit extended number), the frames over the rate giving the length. Nothing for another or
// a damaged file. For AIFF-C's packed codings (ima4, MACE, GSM) the count is of packets, each a
// fixed number of samples.
// Bounds: at most kMaxAiffChunks chunks are walked, within the source's read budget.
// Pure and stateless: safe from any thread with a source of its own.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadAiffFacts(ByteSource& source);

}  // namespace tovi::media

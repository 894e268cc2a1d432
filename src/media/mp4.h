// Facts of an ISO base media file (MP4, MOV, M4A, M4V, 3GP): the movie header's length, the
// first picture track's size and the first sound track's channels and rate, read from the
// `moov` box wherever it lies (before or after `mdat`, whose size, 64-bit too, is skipped).
// Bounds: at most kMaxTopBoxes boxes at the file's top, kMaxBoxes in all, kMaxDepth levels;
// reads go through the source's budget. A file without a readable `moov` gives no facts.
// Tested by tests/media/mp4_test.cpp and the ffprobe comparison.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadMp4Facts(ByteSource& source);

}  // namespace tovi::media

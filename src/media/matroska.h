// Facts of a Matroska or WebM file (MKV, MKA, WEBM): Info's Duration times its TimecodeScale,
// and from Tracks the first picture's PixelWidth/PixelHeight and the Channels and
// SamplingFrequency of the first sound marked default (FlagDefault, set unless a track clears it). Info and Tracks are found before the first Cluster, or through the
// SeekHead when they come later; elements of unknown size (live recordings) are walked to their
// parent's end.
// Bounds: kMaxElements elements in all, read to the fixed depth of the fields sought; reads go
// through the source's budget.
// A file without the EBML header and a Segment gives no facts.
// Tested by tests/media/matroska_test.cpp and the ffprobe comparison.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadMatroskaFacts(ByteSource& source);

}  // namespace tovi::media

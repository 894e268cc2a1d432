// Facts of a RIFF AVI file (AVI, DIVX), from its header list `hdrl`: the longest stream's length
// (strh rate, scale and length; the main header's frame count and frame time when a stream says
// none, OpenDML's dmlh count past the first RIFF), the first picture stream's size (strf's
// BITMAPINFOHEADER, else avih) and the first sound stream's channels and rate (strf's
// WAVEFORMATEX). The stream data (`movi`) is never read.
// Bounds: kMaxChunks chunks, kMaxDepth levels; reads go through the source's budget. A file
// that is not RIFF AVI gives no facts.
// Tested by tests/media/avi_test.cpp and the ffprobe comparison.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadAviFacts(ByteSource& source);

}  // namespace tovi::media

// Facts of an ASF file (ASF, WMV, WMA), from its Header Object: the File Properties' play
// duration less the preroll, its maximum bitrate, and from the Stream Properties the first
// picture stream's size (its BITMAPINFOHEADER) and the first sound stream's channels and rate
// (its WAVEFORMATEX). A broadcast file (still being written) has no duration.
// Bounds: kMaxObjects objects; reads go through the source's budget. A file that does not open
// with the Header Object gives no facts.
// Tested by tests/media/asf_test.cpp and the ffprobe comparison.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadAsfFacts(ByteSource& source);

}  // namespace tovi::media

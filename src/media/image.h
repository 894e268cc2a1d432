// A still picture's width and height from its own header: a JPEG's frame header (SOFn, found by
// skipping segments by their lengths; it also says whether DLNA's JPEG profiles cover the
// picture) and a PNG's IHDR. Nothing for another or a damaged file.
// Bounds: at most kMaxJpegSegments segments are walked, within the source's read budget.
// Pure and stateless: safe from any thread with a source of its own.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadJpegFacts(ByteSource& source);
std::optional<MediaFacts> ReadPngFacts(ByteSource& source);

}  // namespace tovi::media

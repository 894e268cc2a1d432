// An OGG file's facts from the identification headers on its first pages (Vorbis: rate and
// channels; Opus: channels, 48000 Hz and its pre-skip; Theora: picture size and frame rate) and
// its length from each stream's last granule position, found in the file's last kTailBytes.
// Nothing for another or a damaged file.
// Bounds: at most kMaxStreams opening pages are read, then one read of the tail.
// Pure and stateless: safe from any thread with a source of its own.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadOggFacts(ByteSource& source);

}  // namespace tovi::media

// A FLAC file's sound from its STREAMINFO block: rate, channels and total samples, so its length;
// its bitrate is the file's size over that length. An ID3v2 tag before "fLaC" is skipped.
// Nothing for another or a damaged file.
// Pure and stateless: safe from any thread with a source of its own; reads at most two windows.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadFlacFacts(ByteSource& source);

}  // namespace tovi::media

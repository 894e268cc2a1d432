// An AAC file of ADTS frames (.aac: recordings of radio stations, some phones' and players'
// files): its first frame's rate and channels, and, since ADTS keeps no count or index, its length
// from the frames walked in a few stretches amid the file: its bytes at their samples per byte.
// An ID3v2 tag before the frames is skipped. Nothing for another or a damaged file.
// Pure and stateless: safe from any thread with a source of its own; a few reads.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadAacFacts(ByteSource& source);

}  // namespace tovi::media

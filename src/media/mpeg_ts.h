// An MPEG transport stream's facts (188-byte packets, or M2TS's 192 with a 4-byte timestamp
// before each): its length from the earliest presentation time at its start to the end of the
// last frame at its end, as players count it (in a stream without presentation times, from the
// first and last clock reference of one PID), the 33-bit clock's wrap allowed for; its bitrate as its size
// over that length; its picture size from an H.264 sequence parameter set at the start of a video stream.
// Nothing for another or a damaged file. Bounds: reads the first kHeadBytes and the last kTailBytes of the
// file, one read each, and when the head shows pictures but no picture size, up to
// kMaxPictureLookBytes after it in a few reads more. Pure and stateless: safe from any thread with
// a source of its own.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadMpegTsFacts(ByteSource& source);
// The same of an MPEG-1 or MPEG-2 program stream (.mpg, .vob): its packets are found from the
// pack headers on by their lengths, the pack headers' system clock standing in for the clock
// reference; AC-3 in a DVD's private stream counts as sound. Nothing for a file that does not
// start with a pack header.
std::optional<MediaFacts> ReadMpegPsFacts(ByteSource& source);

}  // namespace tovi::media

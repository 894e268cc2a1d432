// An FLV file's facts: the onMetaData script tag's duration, width, height, audiosamplerate and
// stereo (or audiochannels); an AAC sound's channels from its decoder configuration, since
// "stereo" cannot say 5.1; without a rate there, the first sound tag's (an MP3's from its frame
// header, since the tag's own field cannot say 48 kHz); without a duration there, the last
// tag's time, found through the size that ends the file. Nothing for another or a damaged file.
// Bounds: kHeadBytes from the start (the header, the script tag and the first sound tag) and one
// small read at the end; AMF values are walked to a fixed depth and count.
// Pure and stateless: safe from any thread with a source of its own.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadFlvFacts(ByteSource& source);

}  // namespace tovi::media

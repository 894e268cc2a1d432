// An MP3 file's facts: its first frame's header (MPEG 1, 2 or 2.5 layer III: rate, channels),
// its length from a Xing/Info or VBRI header (frame count) or else from the bitrate and the audio
// bytes (the file less its ID3v2 tags and a trailing ID3v1 tag), and its ID3v2 front cover (an
// APIC picture of type 3, else the first picture): where its bytes lie in the file and their
// media type. A cover in an unsynchronised, compressed or encrypted tag or frame is left out,
// since its bytes are not the picture's as they lie. Nothing for another or a damaged file.
// Bounds: the first frame is sought in kFrameSearchBytes after the tags; at most kMaxId3Frames
// tag frames are walked; all within the source's read budget.
// Pure and stateless: safe from any thread with a source of its own.
#pragma once
#include <optional>

#include "media/facts.h"

namespace tovi::media {

std::optional<MediaFacts> ReadMp3Facts(ByteSource& source);

}  // namespace tovi::media

#include "media/mp3.h"

#include <algorithm>
#include <string>

#include "media/audio_frames.h"
#include "media/frame_stretches.h"
#include "media/id3.h"
#include "media/reading.h"

namespace tovi::media {

namespace {

// Encoders leave padding between the tag and the first frame; past this the file is not MP3.
constexpr std::size_t kFrameSearchBytes = 64 * 1024;
constexpr std::size_t kId3v1Bytes = 128;
constexpr std::size_t kFrameHeaderBytes = 4;

struct FrameHeader {
  AudioFrame frame;
  std::size_t sideInfoBytes = 0;  // between the header and a Xing/Info tag
};

// A layer III frame header, or nothing.
std::optional<FrameHeader> ParseFrameHeader(std::string_view b) {
  const auto frame = ParseMpegAudioFrame(b);
  if (!frame || frame->layer != 3) return std::nullopt;
  const bool mono = frame->channels == 1;
  return FrameHeader{*frame, frame->mpeg1 ? (mono ? 17u : 32u) : (mono ? 9u : 17u)};
}

struct FirstFrame {
  std::uint64_t offset = 0;
  FrameHeader header;
};

// The first frame header whose successor is a frame of the same kind, or the file's end.
std::optional<FirstFrame> FindFirstFrame(ReadWindow& window, std::uint64_t from) {
  const std::uint64_t left = window.Size() - std::min(from, window.Size());
  const std::string_view area =
      window.Bytes(from, static_cast<std::size_t>(std::min<std::uint64_t>(kFrameSearchBytes, left)));
  const std::string copy(area);  // the window moves when the successor lies outside it
  for (std::size_t at = 0; at + kFrameHeaderBytes <= copy.size(); ++at) {
    if (copy[at] != '\xff') continue;
    const auto header = ParseFrameHeader(std::string_view(copy).substr(at, kFrameHeaderBytes));
    if (!header) continue;
    const std::uint64_t next = from + at + header->frame.bytes;
    // The successor is most often in the bytes at hand; a read for it only at the area's end.
    const std::string_view successor =
        at + header->frame.bytes + kFrameHeaderBytes <= copy.size()
            ? std::string_view(copy).substr(at + header->frame.bytes, kFrameHeaderBytes)
            : window.Bytes(next, kFrameHeaderBytes);
    const auto following = ParseFrameHeader(successor);
    if (next >= window.Size() || (following && following->frame.mpeg1 == header->frame.mpeg1 &&
                                  following->frame.sampleRate == header->frame.sampleRate))
      return FirstFrame{from + at, *header};
  }
  return std::nullopt;
}

// Frame count and audio bytes from a Xing/Info or VBRI header in the first frame, if it has one.
struct VbrCount {
  std::uint64_t frames = 0, bytes = 0;
};

std::optional<VbrCount> ReadVbrHeader(std::string_view frame, const FrameHeader& h) {
  const std::size_t xing = kFrameHeaderBytes + h.sideInfoBytes;
  const std::string_view tag = frame.substr(std::min(xing, frame.size()), 4);
  if (tag == "Xing" || tag == "Info") {
    const std::uint64_t flags = BigEndian(frame, xing + 4, 4);
    if (!(flags & 1)) return std::nullopt;
    VbrCount count{BigEndian(frame, xing + 8, 4), 0};
    if (flags & 2) count.bytes = BigEndian(frame, xing + 12, 4);
    return count;
  }
  constexpr std::size_t kVbri = kFrameHeaderBytes + 32;
  if (frame.substr(std::min(kVbri, frame.size()), 4) == "VBRI")
    return VbrCount{BigEndian(frame, kVbri + 14, 4), BigEndian(frame, kVbri + 10, 4)};
  return std::nullopt;
}

// Where the audio ends before the tags that other taggers append after it (APEv2 and Lyrics3v2, in
// either order, before an ID3v1 tag): they can hold pictures, which a CBR file's length from its
// size would count as sound.
std::uint64_t BeforeAppendedTags(ReadWindow& window, std::uint64_t end) {
  constexpr std::size_t kApeFooterBytes = 32;
  constexpr std::string_view kLyricsEnd = "LYRICS200";
  constexpr std::size_t kLyricsSizeBytes = 6;
  for (int tag = 0; tag < 2; ++tag) {
    if (end >= kApeFooterBytes && window.Bytes(end - kApeFooterBytes, 8) == "APETAGEX") {
      const std::string_view footer = window.Bytes(end - kApeFooterBytes, kApeFooterBytes);
      // The size counts the items and the footer; a header, when flagged, comes before them.
      const std::uint64_t size = LittleEndian(footer, 12, 4) +
                                 ((LittleEndian(footer, 20, 4) & 0x80000000u) ? kApeFooterBytes : 0);
      if (size < kApeFooterBytes || size > end) break;
      end -= size;
    } else if (end >= kLyricsEnd.size() + kLyricsSizeBytes &&
               window.Bytes(end - kLyricsEnd.size(), kLyricsEnd.size()) == kLyricsEnd) {
      const std::uint64_t sizeAt = end - kLyricsEnd.size() - kLyricsSizeBytes;
      const std::string digits(window.Bytes(sizeAt, kLyricsSizeBytes));
      if (digits.size() != kLyricsSizeBytes ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        break;
      }
      // The size counts the lyrics from "LYRICSBEGIN" on, not itself or the end marker.
      const std::uint64_t size = std::stoull(digits) + kLyricsSizeBytes + kLyricsEnd.size();
      if (size > end) break;
      end -= size;
    } else {
      break;
    }
  }
  return end;
}

// The layer III frame at an offset of bytes with the first frame's version and rate.
std::optional<AudioFrame> FrameLike(const AudioFrame& first, std::string_view bytes,
                                    std::size_t at) {
  if (at > bytes.size() || bytes.size() - at < kFrameHeaderBytes) return std::nullopt;
  const auto h = ParseFrameHeader(bytes.substr(at, kFrameHeaderBytes));
  if (!h || h->frame.mpeg1 != first.mpeg1 || h->frame.sampleRate != first.sampleRate) {
    return std::nullopt;
  }
  return h->frame;
}

MediaFacts FrameFacts(ReadWindow& window, const FirstFrame& first, std::uint64_t audioEnd) {
  const FrameHeader& h = first.header;
  MediaFacts facts;
  facts.sampleRate = h.frame.sampleRate;
  facts.channels = h.frame.channels;
  const std::string_view frame = window.Bytes(first.offset, h.frame.bytes);
  const std::uint64_t audioBytes = audioEnd > first.offset ? audioEnd - first.offset : 0;
  if (const auto vbr = ReadVbrHeader(frame, h); vbr && vbr->frames > 0) {
    facts.durationMs = DurationMs(vbr->frames * h.frame.samples, h.frame.sampleRate);
    std::uint64_t bytes = vbr->bytes ? vbr->bytes : audioBytes;
    // Files joined end to end (a book's parts, a recording resumed) keep the first one's tag:
    // the bytes past those it counts play on at its rate.
    if (facts.durationMs && vbr->bytes && audioBytes > vbr->bytes + vbr->bytes / 100) {
      const double taggedSeconds =
          static_cast<double>(vbr->frames * h.frame.samples) / h.frame.sampleRate;
      facts.durationMs = DurationMs(taggedSeconds * static_cast<double>(audioBytes) /
                                    static_cast<double>(vbr->bytes));
      bytes = audioBytes;
    }
    if (facts.durationMs) facts.bitrate = BytesPerSecond(bytes, *facts.durationMs);
    return facts;
  }
  // Without a VBR header the first frame's bitrate is no guide to a VBR file's (a lead-in of
  // silence): frames amid the file are counted.
  const FrameTally tally = TallyStretches(
      window, first.offset, audioBytes, h.frame.bitrateKbps,
      [&](std::string_view bytes, std::size_t at) { return FrameLike(h.frame, bytes, at); });
  if (tally.bitratesDiffer) {
    facts.durationMs = TalliedDurationMs(tally, audioBytes, h.frame.sampleRate);
    if (facts.durationMs) facts.bitrate = BytesPerSecond(audioBytes, *facts.durationMs);
    return facts;
  }
  const std::uint32_t bytesPerSecond = h.frame.bitrateKbps * 1000 / 8;
  facts.bitrate = bytesPerSecond;
  facts.durationMs = DurationMs(audioBytes, bytesPerSecond);
  return facts;
}

}  // namespace

std::optional<MediaFacts> ReadMp3Facts(ByteSource& source) {
  ReadWindow window(source);
  const std::uint64_t tags = Id3v2Length(window);
  const auto cover = FindId3Cover(window);
  const auto first = FindFirstFrame(window, tags);
  if (!first) return std::nullopt;
  std::uint64_t audioEnd = window.Size();
  if (audioEnd >= kId3v1Bytes && window.Bytes(audioEnd - kId3v1Bytes, 3) == "TAG") audioEnd -= kId3v1Bytes;
  audioEnd = BeforeAppendedTags(window, audioEnd);
  MediaFacts facts = FrameFacts(window, *first, audioEnd);
  if (cover) {
    facts.coverOffset = cover->offset;
    facts.coverLength = cover->length;
    facts.coverMime = cover->mime;
  }
  return facts;
}

}  // namespace tovi::media

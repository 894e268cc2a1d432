#include "media/mp3.h"

#include <algorithm>
#include <array>
#include <string>

#include "media/id3.h"
#include "media/reading.h"

namespace tovi::media {

namespace {

// Encoders leave padding between the tag and the first frame; past this the file is not MP3.
constexpr std::size_t kFrameSearchBytes = 64 * 1024;
constexpr std::size_t kId3v1Bytes = 128;
constexpr std::size_t kFrameHeaderBytes = 4;

constexpr std::array<std::uint32_t, 15> kBitrateKbpsV1 = {0,   32,  40,  48,  56,  64,  80, 96,
                                                          112, 128, 160, 192, 224, 256, 320};
constexpr std::array<std::uint32_t, 15> kBitrateKbpsV2 = {0,  8,  16, 24,  32,  40,  48, 56,
                                                          64, 80, 96, 112, 128, 144, 160};
constexpr std::array<std::uint32_t, 3> kRateV1 = {44100, 48000, 32000};

struct FrameHeader {
  bool mpeg1 = false;
  std::uint32_t sampleRate = 0, bitrateKbps = 0, channels = 0, bytes = 0, samples = 0;
  std::size_t sideInfoBytes = 0;  // between the header and a Xing/Info tag
};

// A layer III frame header, or nothing (free format and reserved values are not read).
std::optional<FrameHeader> ParseFrameHeader(std::string_view b) {
  const std::uint64_t word = BigEndian(b, 0, 4);
  if (b.size() < 4 || (word >> 21) != 0x7ff) return std::nullopt;
  const unsigned version = word >> 19 & 3, layer = word >> 17 & 3, bitrateIndex = word >> 12 & 15,
                 rateIndex = word >> 10 & 3, padding = word >> 9 & 1, mode = word >> 6 & 3;
  if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
    return std::nullopt;
  FrameHeader h;
  h.mpeg1 = version == 3;
  h.sampleRate = kRateV1[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  h.bitrateKbps = (h.mpeg1 ? kBitrateKbpsV1 : kBitrateKbpsV2)[bitrateIndex];
  h.channels = mode == 3 ? 1 : 2;
  h.samples = h.mpeg1 ? 1152 : 576;
  h.bytes = h.samples / 8 * h.bitrateKbps * 1000 / h.sampleRate + padding;
  h.sideInfoBytes = h.mpeg1 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
  return h;
}

struct FirstFrame {
  std::uint64_t offset = 0;
  FrameHeader header;
};

// The first frame header whose successor is a frame of the same kind, or the file's end.
std::optional<FirstFrame> FindFirstFrame(ReadWindow& window, std::uint64_t from) {
  const std::uint64_t left = window.Size() - std::min(from, window.Size());
  const std::string_view area = window.Bytes(from, static_cast<std::size_t>(std::min<std::uint64_t>(kFrameSearchBytes, left)));
  const std::string copy(area);  // the window moves when the successor lies outside it
  for (std::size_t at = 0; at + kFrameHeaderBytes <= copy.size(); ++at) {
    if (copy[at] != '\xff') continue;
    const auto header = ParseFrameHeader(std::string_view(copy).substr(at, kFrameHeaderBytes));
    if (!header) continue;
    const std::uint64_t next = from + at + header->bytes;
    // The successor is most often in the bytes at hand; a read for it only at the area's end.
    const std::string_view successor = at + header->bytes + kFrameHeaderBytes <= copy.size()
                                           ? std::string_view(copy).substr(at + header->bytes, kFrameHeaderBytes)
                                           : window.Bytes(next, kFrameHeaderBytes);
    const auto following = ParseFrameHeader(successor);
    if (next >= window.Size() ||
        (following && following->mpeg1 == header->mpeg1 && following->sampleRate == header->sampleRate))
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

MediaFacts FrameFacts(ReadWindow& window, const FirstFrame& first, std::uint64_t audioEnd) {
  const FrameHeader& h = first.header;
  MediaFacts facts;
  facts.sampleRate = h.sampleRate;
  facts.channels = h.channels;
  const std::string_view frame = window.Bytes(first.offset, h.bytes);
  const std::uint64_t audioBytes = audioEnd > first.offset ? audioEnd - first.offset : 0;
  if (const auto vbr = ReadVbrHeader(frame, h); vbr && vbr->frames > 0) {
    facts.durationMs = DurationMs(vbr->frames * h.samples, h.sampleRate);
    if (facts.durationMs) facts.bitrate = BytesPerSecond(vbr->bytes ? vbr->bytes : audioBytes, *facts.durationMs);
    return facts;
  }
  const std::uint32_t bytesPerSecond = h.bitrateKbps * 1000 / 8;
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
  MediaFacts facts = FrameFacts(window, *first, audioEnd);
  if (cover) {
    facts.coverOffset = cover->offset;
    facts.coverLength = cover->length;
    facts.coverMime = cover->mime;
  }
  return facts;
}

}  // namespace tovi::media

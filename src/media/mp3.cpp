#include "media/mp3.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

#include "media/fields.h"

namespace tovi::media {

namespace {

// Encoders leave padding between the tag and the first frame; past this the file is not MP3.
constexpr std::size_t kFrameSearchBytes = 64 * 1024;
// Tags carry a few dozen text frames and a picture or two; more than this is a loop.
constexpr int kMaxId3Frames = 1024;
// Enough of an APIC frame's body for its encoding, media type, picture type and description.
constexpr std::size_t kApicHeadBytes = 1024;
constexpr std::size_t kId3HeaderBytes = 10;
constexpr std::size_t kId3v1Bytes = 128;
constexpr std::size_t kFrameHeaderBytes = 4;
constexpr unsigned kFrontCover = 3;

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
  const std::uint64_t word = ReadBE(b, 0, 4);
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
std::optional<FirstFrame> FindFirstFrame(Window& window, std::uint64_t from) {
  const std::uint64_t left = window.Size() - std::min(from, window.Size());
  const std::string_view area = window.Get(from, static_cast<std::size_t>(std::min<std::uint64_t>(kFrameSearchBytes, left)));
  const std::string copy(area);  // the window moves when the successor lies outside it
  for (std::size_t at = 0; at + kFrameHeaderBytes <= copy.size(); ++at) {
    if (copy[at] != '\xff') continue;
    const auto header = ParseFrameHeader(std::string_view(copy).substr(at, kFrameHeaderBytes));
    if (!header) continue;
    const std::uint64_t next = from + at + header->bytes;
    // The successor is most often in the bytes at hand; a read for it only at the area's end.
    const std::string_view successor = at + header->bytes + kFrameHeaderBytes <= copy.size()
                                           ? std::string_view(copy).substr(at + header->bytes, kFrameHeaderBytes)
                                           : window.Get(next, kFrameHeaderBytes);
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
    const std::uint64_t flags = ReadBE(frame, xing + 4, 4);
    if (!(flags & 1)) return std::nullopt;
    VbrCount count{ReadBE(frame, xing + 8, 4), 0};
    if (flags & 2) count.bytes = ReadBE(frame, xing + 12, 4);
    return count;
  }
  constexpr std::size_t kVbri = kFrameHeaderBytes + 32;
  if (frame.substr(std::min(kVbri, frame.size()), 4) == "VBRI")
    return VbrCount{ReadBE(frame, kVbri + 14, 4), ReadBE(frame, kVbri + 10, 4)};
  return std::nullopt;
}

// An APIC frame's picture, when it is the one to show.
struct Picture {
  std::uint64_t offset = 0;
  std::uint32_t length = 0;
  std::string mime;
  bool front = false;
};

std::string NormalMime(std::string mime) {
  for (char& c : mime) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (mime == "image/jpg" || mime == "jpg" || mime == "jpeg") return "image/jpeg";
  if (mime == "png") return "image/png";
  return mime;
}

// The end of a description in text encoding 0 or 3 (one zero byte) or 1 and 2 (two, aligned).
std::optional<std::size_t> SkipText(std::string_view body, std::size_t at, unsigned encoding) {
  const bool wide = encoding == 1 || encoding == 2;
  for (std::size_t i = at; i + (wide ? 1 : 0) < body.size(); i += wide ? 2 : 1)
    if (body[i] == 0 && (!wide || body[i + 1] == 0)) return i + (wide ? 2 : 1);
  return std::nullopt;
}

std::optional<Picture> ParseApic(std::string_view body, std::uint64_t bodyOffset, std::uint64_t bodyBytes) {
  const unsigned encoding = static_cast<unsigned>(ReadBE(body, 0, 1));
  const auto mimeEnd = SkipText(body, 1, 0);
  if (!mimeEnd || *mimeEnd >= body.size()) return std::nullopt;
  const unsigned type = static_cast<unsigned>(ReadBE(body, *mimeEnd, 1));
  const auto dataStart = SkipText(body, *mimeEnd + 1, encoding);
  if (!dataStart || *dataStart >= bodyBytes || bodyBytes - *dataStart > UINT32_MAX) return std::nullopt;
  return Picture{bodyOffset + *dataStart, static_cast<std::uint32_t>(bodyBytes - *dataStart),
                 NormalMime(std::string(body.substr(1, *mimeEnd - 2))), type == kFrontCover};
}

// The tag's front cover (else its first picture), read from the tag at the file's start.
std::optional<Picture> FindCover(Window& window) {
  const std::string_view head = window.Get(0, kId3HeaderBytes);
  if (head.substr(0, 3) != "ID3") return std::nullopt;
  const unsigned version = static_cast<unsigned>(ReadBE(head, 3, 1));
  const unsigned flags = static_cast<unsigned>(ReadBE(head, 5, 1));
  if ((version != 3 && version != 4) || (flags & 0x80)) return std::nullopt;  // 0x80: unsynchronised
  const std::uint64_t end = kId3HeaderBytes + ReadSyncSafe(head, 6);
  std::uint64_t at = kId3HeaderBytes;
  if (flags & 0x40) {  // an extended header: v2.4 counts its own size field, v2.3 does not
    const std::string_view ext = window.Get(at, 4);
    if (ext.empty()) return std::nullopt;
    at += version == 4 ? ReadSyncSafe(ext, 0) : 4 + ReadBE(ext, 0, 4);
  }
  std::optional<Picture> first;
  for (int frame = 0; frame < kMaxId3Frames && at + kId3HeaderBytes <= end; ++frame) {
    const std::string_view fh = window.Get(at, kId3HeaderBytes);
    if (fh.empty() || fh[0] == 0) break;  // the end, or the padding after the last frame
    const std::uint64_t size = version == 4 ? ReadSyncSafe(fh, 4) : ReadBE(fh, 4, 4);
    const unsigned format = static_cast<unsigned>(ReadBE(fh, 9, 1));
    // v2.4: 0x08 compressed, 0x04 encrypted, 0x02 unsynchronised, 0x01 length prefixed;
    // v2.3: 0x80 compressed, 0x40 encrypted, 0x20 grouped.
    const bool plain = version == 4 ? (format & 0x0f) == 0 : (format & 0xe0) == 0;
    const std::uint64_t body = at + kId3HeaderBytes;
    if (fh.substr(0, 4) == "APIC" && plain && size > 0 && body + size <= window.Size()) {
      const std::string_view b = window.Get(body, static_cast<std::size_t>(std::min<std::uint64_t>(size, kApicHeadBytes)));
      if (auto picture = ParseApic(b, body, size)) {
        if (picture->front) return picture;
        if (!first) first = picture;
      }
    }
    at = body + size;
  }
  return first;
}

MediaFacts FrameFacts(Window& window, const FirstFrame& first, std::uint64_t audioEnd) {
  const FrameHeader& h = first.header;
  MediaFacts facts;
  facts.sampleRate = h.sampleRate;
  facts.channels = h.channels;
  const std::string_view frame = window.Get(first.offset, h.bytes);
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
  Window window(source);
  const std::uint64_t tags = Id3v2Length(window);
  const auto cover = FindCover(window);
  const auto first = FindFirstFrame(window, tags);
  if (!first) return std::nullopt;
  std::uint64_t audioEnd = window.Size();
  if (audioEnd >= kId3v1Bytes && window.Get(audioEnd - kId3v1Bytes, 3) == "TAG") audioEnd -= kId3v1Bytes;
  MediaFacts facts = FrameFacts(window, *first, audioEnd);
  if (cover) {
    facts.coverOffset = cover->offset;
    facts.coverLength = cover->length;
    facts.coverMime = cover->mime;
  }
  return facts;
}

}  // namespace tovi::media

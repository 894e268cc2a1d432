#include "media/avi.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "media/reading.h"

namespace tovi::media {
namespace {

// Chunks walked in all: the header list holds a few per stream (strh, strf, indx, strn, JUNK).
constexpr int kMaxChunks = 512;
// RIFF/hdrl/strl/strh is three lists deep.
constexpr int kMaxDepth = 3;
// The most of a chunk a reader needs (avih, strh, the start of strf).
constexpr std::size_t kMaxChunkBytes = 64;
// Where a RIFF file's chunks start: "RIFF", its size, the form type.
constexpr std::uint64_t kRiffHeaderBytes = 12;

constexpr std::uint32_t Code(const char (&name)[5]) {
  return std::uint32_t(std::uint8_t(name[0])) | (std::uint32_t(std::uint8_t(name[1])) << 8) |
         (std::uint32_t(std::uint8_t(name[2])) << 16) | (std::uint32_t(std::uint8_t(name[3])) << 24);
}

struct Stream {
  std::uint32_t type = 0;  // 'vids', 'auds', ...
  std::optional<std::uint64_t> durationMs;
};

struct Header {
  std::uint64_t usPerFrame = 0, totalFrames = 0, odmlFrames = 0;
  std::uint32_t width = 0, height = 0;
  bool hdrlRead = false;
  std::optional<Stream> stream;  // the stream list being walked
  std::optional<std::uint64_t> longestStreamMs;
  MediaFacts facts;
};

class Walker {
 public:
  Walker(ReadWindow& window, Header& header) : window_(window), header_(header) {}
  void Walk(std::uint64_t begin, std::uint64_t end, int depth);

 private:
  void Chunk(std::uint32_t id, std::uint64_t data, std::uint64_t end, int depth);
  void StreamFormat(std::string_view strf);

  ReadWindow& window_;
  Header& header_;
  int chunks_ = 0;
};

void Walker::Walk(std::uint64_t begin, std::uint64_t end, int depth) {
  for (std::uint64_t at = begin; at < end && end - at >= 8 && chunks_ < kMaxChunks && !header_.hdrlRead; ++chunks_) {
    const std::string_view head = window_.Bytes(at, 8);
    if (head.size() < 8) return;
    const auto id = static_cast<std::uint32_t>(LittleEndian(head, 0, 4));
    const std::uint64_t size = LittleEndian(head, 4, 4);
    const std::uint64_t data = at + 8;
    // A size past its list is cut to it: a file cut short still shows its header.
    const std::uint64_t dataEnd = std::min(end, data + size);
    Chunk(id, data, dataEnd, depth);
    at = dataEnd + (size & 1);  // chunks are padded to an even size
  }
}

void Walker::Chunk(std::uint32_t id, std::uint64_t data, std::uint64_t end, int depth) {
  const std::string_view body = window_.Bytes(data, std::min<std::uint64_t>(end - data, kMaxChunkBytes));
  if (id == Code("LIST")) {
    const auto type = static_cast<std::uint32_t>(LittleEndian(body, 0, 4));
    if (depth >= kMaxDepth || body.size() < 4) return;
    if (type == Code("strl")) {
      if (header_.stream) return;  // a stream list inside another describes nothing
      header_.stream.emplace();
      Walk(data + 4, end, depth + 1);
      if (header_.stream->durationMs) {
        header_.longestStreamMs = std::max(header_.longestStreamMs.value_or(0), *header_.stream->durationMs);
      }
      header_.stream.reset();
      return;
    }
    if (type == Code("hdrl") || type == Code("odml")) Walk(data + 4, end, depth + 1);
    // The streams are all described once the header list ends.
    if (type == Code("hdrl")) header_.hdrlRead = true;
  } else if (id == Code("avih")) {
    header_.usPerFrame = LittleEndian(body, 0, 4);
    header_.totalFrames = LittleEndian(body, 16, 4);
    header_.width = static_cast<std::uint32_t>(LittleEndian(body, 32, 4));
    header_.height = static_cast<std::uint32_t>(LittleEndian(body, 36, 4));
  } else if (id == Code("dmlh")) {
    header_.odmlFrames = LittleEndian(body, 0, 4);
  } else if (id == Code("strh") && header_.stream) {
    header_.stream->type = static_cast<std::uint32_t>(LittleEndian(body, 0, 4));
    const std::uint64_t scale = LittleEndian(body, 20, 4), rate = LittleEndian(body, 24, 4);
    const std::uint64_t length = LittleEndian(body, 32, 4);
    header_.stream->durationMs = DurationMs(length * scale, rate);
  } else if (id == Code("strf") && header_.stream) {
    StreamFormat(body);
  }
}

// BITMAPINFOHEADER's height is negative for a picture stored top down.
void Walker::StreamFormat(std::string_view strf) {
  MediaFacts& facts = header_.facts;
  if (header_.stream->type == Code("vids") && !facts.width && strf.size() >= 12) {
    const auto width = static_cast<std::int32_t>(LittleEndian(strf, 4, 4));
    const auto height = static_cast<std::int32_t>(LittleEndian(strf, 8, 4));
    facts.width = Positive(static_cast<std::uint64_t>(std::llabs(width)), kMaxPictureSide);
    facts.height = Positive(static_cast<std::uint64_t>(std::llabs(height)), kMaxPictureSide);
  }
  if (header_.stream->type == Code("auds") && !facts.channels && strf.size() >= 8) {
    facts.channels = Positive(LittleEndian(strf, 2, 2), kMaxChannels);
    facts.sampleRate = Positive(LittleEndian(strf, 4, 4), kMaxSampleRate);
  }
}

}  // namespace

std::optional<MediaFacts> ReadAviFacts(ByteSource& source) {
  ReadWindow window(source);
  const std::string_view riff = window.Bytes(0, kRiffHeaderBytes);
  if (riff.size() < kRiffHeaderBytes || LittleEndian(riff, 0, 4) != Code("RIFF") ||
      LittleEndian(riff, 8, 4) != Code("AVI ")) {
    return std::nullopt;
  }
  Header header;
  Walker(window, header).Walk(kRiffHeaderBytes, source.Size(), 0);
  MediaFacts& facts = header.facts;
  if (!facts.width) {
    facts.width = Positive(header.width, kMaxPictureSide);
    facts.height = Positive(header.height, kMaxPictureSide);
  }
  // The streams' own lengths first: avih counts the frames of the first RIFF only in an
  // OpenDML file, whose dmlh holds the whole count.
  facts.durationMs = header.longestStreamMs;
  if (!facts.durationMs) {
    const std::uint64_t frames = header.odmlFrames ? header.odmlFrames : header.totalFrames;
    facts.durationMs = DurationMs(frames * header.usPerFrame, 1'000'000);
  }
  if (facts.durationMs) facts.bitrate = BytesPerSecond(source.Size(), *facts.durationMs);
  if (facts.Empty()) return std::nullopt;
  return facts;
}

}  // namespace tovi::media

#include "media/image.h"

#include "media/reading.h"

namespace tovi::media {

namespace {

// Cameras put a few APPn segments before the frame header; a walk longer than this is a loop.
constexpr int kMaxJpegSegments = 512;
constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";

bool IsStartOfFrame(unsigned marker) {
  // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning) share the range.
  return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

bool HasNoLength(unsigned marker) {
  return (marker >= 0xd0 && marker <= 0xd7) || marker == 0x01;
}

// Baseline sequential coding, the one DLNA's JPEG profiles take and every picture decoder reads.
constexpr unsigned kBaselineFrame = 0xc0;
// Grey or YCbCr; four are CMYK or YCCK.
constexpr std::uint64_t kMaxProfiledComponents = 3;

std::optional<MediaFacts> SizeFacts(std::uint64_t width, std::uint64_t height) {
  MediaFacts facts;
  facts.width = Positive(width, kMaxPictureSide);
  facts.height = Positive(height, kMaxPictureSide);
  if (!facts.width || !facts.height) return std::nullopt;
  return facts;
}

}  // namespace

std::optional<MediaFacts> ReadJpegFacts(ByteSource& source) {
  ReadWindow window(source);
  if (window.Bytes(0, 2) != "\xff\xd8") return std::nullopt;
  std::uint64_t at = 2;
  for (int segment = 0; segment < kMaxJpegSegments; ++segment) {
    const std::string_view head = window.Bytes(at, 2);
    if (head.size() < 2 || head[0] != '\xff') return std::nullopt;
    const unsigned marker = static_cast<unsigned char>(head[1]);
    if (marker == 0xff) {  // a fill byte before the marker
      ++at;
      continue;
    }
    if (marker == 0xd9 || marker == 0xda) return std::nullopt;  // image data before any frame
    if (HasNoLength(marker)) {
      at += 2;
      continue;
    }
    // A frame header: length, precision, height, width, components.
    const std::size_t wanted = IsStartOfFrame(marker) ? 8 : 2;
    const std::string_view body = window.Bytes(at + 2, wanted);
    if (body.size() < wanted) return std::nullopt;
    if (IsStartOfFrame(marker)) {
      std::optional<MediaFacts> facts = SizeFacts(BigEndian(body, 5, 2), BigEndian(body, 3, 2));
      if (facts) {
        facts->unprofiledJpeg =
            marker != kBaselineFrame || BigEndian(body, 7, 1) > kMaxProfiledComponents;
      }
      return facts;
    }
    const std::uint64_t length = BigEndian(body, 0, 2);
    if (length < 2) return std::nullopt;
    at += 2 + length;
  }
  return std::nullopt;
}

std::optional<MediaFacts> ReadPngFacts(ByteSource& source) {
  ReadWindow window(source);
  const std::string_view head = window.Bytes(0, 24);
  if (head.size() < 24 || head.substr(0, 8) != kPngSignature || head.substr(12, 4) != "IHDR")
    return std::nullopt;
  return SizeFacts(BigEndian(head, 16, 4), BigEndian(head, 20, 4));
}

}  // namespace tovi::media

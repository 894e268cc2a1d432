#include "media/image.h"

#include "media/fields.h"

namespace tovi::media {

namespace {

// Cameras put a few APPn segments before the frame header; a walk longer than this is a loop.
constexpr int kMaxJpegSegments = 512;
constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1a\n";

bool IsStartOfFrame(unsigned marker) {
  // C4 (Huffman tables), C8 (reserved) and CC (arithmetic conditioning) share the range.
  return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

bool HasNoLength(unsigned marker) { return (marker >= 0xd0 && marker <= 0xd7) || marker == 0x01; }

std::optional<MediaFacts> SizeFacts(std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0) return std::nullopt;
  MediaFacts facts;
  facts.width = static_cast<std::uint32_t>(width);
  facts.height = static_cast<std::uint32_t>(height);
  return facts;
}

}  // namespace

std::optional<MediaFacts> ReadJpegFacts(ByteSource& source) {
  Window window(source);
  if (window.Get(0, 2) != "\xff\xd8") return std::nullopt;
  std::uint64_t at = 2;
  for (int segment = 0; segment < kMaxJpegSegments; ++segment) {
    const std::string_view head = window.Get(at, 2);
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
    const std::string_view body = window.Get(at + 2, IsStartOfFrame(marker) ? 7 : 2);
    if (body.empty()) return std::nullopt;
    if (IsStartOfFrame(marker)) return SizeFacts(ReadBE(body, 5, 2), ReadBE(body, 3, 2));
    const std::uint64_t length = ReadBE(body, 0, 2);
    if (length < 2) return std::nullopt;
    at += 2 + length;
  }
  return std::nullopt;
}

std::optional<MediaFacts> ReadPngFacts(ByteSource& source) {
  Window window(source);
  const std::string_view head = window.Get(0, 24);
  if (head.substr(0, 8) != kPngSignature || head.substr(12, 4) != "IHDR") return std::nullopt;
  return SizeFacts(ReadBE(head, 16, 4), ReadBE(head, 20, 4));
}

}  // namespace tovi::media

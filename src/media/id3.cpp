#include "media/id3.h"

#include <algorithm>
#include <cctype>

namespace tovi::media {

namespace {

constexpr std::size_t kId3HeaderBytes = 10;
// Some files carry a tag appended to a tag; a chain longer than this is a lie.
constexpr int kMaxId3Tags = 4;
// Tags carry a few dozen text frames and a picture or two; more than this is a loop.
constexpr int kMaxId3Frames = 1024;
// Enough of an APIC frame's body for its encoding, media type, picture type and description.
constexpr std::size_t kApicHeadBytes = 1024;
constexpr unsigned kFrontCover = 3;

// The picture's own first bytes over what the tag says: taggers write "image/jpg", "JPG", or
// the wrong type.
std::string PictureMime(std::string_view data, std::string mime) {
  if (data.substr(0, 2) == "\xff\xd8") return "image/jpeg";
  if (data.substr(0, 4) == "\x89PNG") return "image/png";
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

std::optional<Id3Picture> ParseApic(std::string_view body, std::uint64_t bodyOffset,
                                    std::uint64_t bodyBytes) {
  const unsigned encoding = static_cast<unsigned>(BigEndian(body, 0, 1));
  const auto mimeEnd = SkipText(body, 1, 0);
  if (!mimeEnd || *mimeEnd >= body.size()) return std::nullopt;
  const unsigned type = static_cast<unsigned>(BigEndian(body, *mimeEnd, 1));
  const auto dataStart = SkipText(body, *mimeEnd + 1, encoding);
  if (!dataStart || *dataStart >= bodyBytes || bodyBytes - *dataStart > UINT32_MAX) return std::nullopt;
  return Id3Picture{bodyOffset + *dataStart, static_cast<std::uint32_t>(bodyBytes - *dataStart),
                    PictureMime(body.substr(*dataStart), std::string(body.substr(1, *mimeEnd - 2))),
                    type == kFrontCover};
}

// The tag's front cover (else its first picture), read from the tag at the file's start.
}  // namespace

std::optional<Id3Picture> FindId3Cover(ReadWindow& window) {
  const std::string_view head = window.Bytes(0, kId3HeaderBytes);
  if (head.size() < kId3HeaderBytes || head.substr(0, 3) != "ID3") return std::nullopt;
  const unsigned version = static_cast<unsigned>(BigEndian(head, 3, 1));
  const unsigned flags = static_cast<unsigned>(BigEndian(head, 5, 1));
  if ((version != 3 && version != 4) || (flags & 0x80)) return std::nullopt;  // 0x80: unsynchronised
  const std::uint64_t end = kId3HeaderBytes + ReadSyncSafe(head, 6);
  std::uint64_t at = kId3HeaderBytes;
  if (flags & 0x40) {  // an extended header: v2.4 counts its own size field, v2.3 does not
    const std::string_view ext = window.Bytes(at, 4);
    if (ext.size() < 4) return std::nullopt;
    at += version == 4 ? ReadSyncSafe(ext, 0) : 4 + BigEndian(ext, 0, 4);
  }
  std::optional<Id3Picture> first;
  for (int frame = 0; frame < kMaxId3Frames && at + kId3HeaderBytes <= end; ++frame) {
    const std::string_view fh = window.Bytes(at, kId3HeaderBytes);
    if (fh.size() < kId3HeaderBytes || fh[0] == 0) break;  // the end, or the padding after the last frame
    const std::uint64_t size = version == 4 ? ReadSyncSafe(fh, 4) : BigEndian(fh, 4, 4);
    const unsigned format = static_cast<unsigned>(BigEndian(fh, 9, 1));
    // v2.4: 0x08 compressed, 0x04 encrypted, 0x02 unsynchronised, 0x01 length prefixed;
    // v2.3: 0x80 compressed, 0x40 encrypted, 0x20 grouped.
    const bool plain = version == 4 ? (format & 0x0f) == 0 : (format & 0xe0) == 0;
    const std::uint64_t body = at + kId3HeaderBytes;
    if (fh.substr(0, 4) == "APIC" && plain && size > 0 && body + size <= window.Size()) {
      const std::string_view b =
          window.Bytes(body, static_cast<std::size_t>(std::min<std::uint64_t>(size, kApicHeadBytes)));
      if (auto picture = ParseApic(b, body, size)) {
        if (picture->front) return picture;
        if (!first) first = picture;
      }
    }
    at = body + size;
  }
  return first;
}

std::uint32_t ReadSyncSafe(std::string_view bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = value << 7 | (BigEndian(bytes, offset + i, 1) & 0x7f);
  return value;
}

std::uint64_t Id3v2Length(ReadWindow& window) {
  std::uint64_t length = 0;
  for (int tag = 0; tag < kMaxId3Tags; ++tag) {
    const std::string_view head = window.Bytes(length, kId3HeaderBytes);
    if (head.size() < kId3HeaderBytes || head.substr(0, 3) != "ID3") break;
    const bool footer = BigEndian(head, 5, 1) & 0x10;
    length += kId3HeaderBytes + ReadSyncSafe(head, 6) + (footer ? kId3HeaderBytes : 0);
  }
  return length;
}

}  // namespace tovi::media

// Which reader reads which extension, and which a misnamed file's first bytes call for.
#include <iterator>
#include <string>
#include <string_view>

#include "media/aac.h"
#include "media/aiff.h"
#include "media/asf.h"
#include "media/avi.h"
#include "media/facts.h"
#include "media/flac.h"
#include "media/flv.h"
#include "media/image.h"
#include "media/matroska.h"
#include "media/mp3.h"
#include "media/mp4.h"
#include "media/mpeg_ts.h"
#include "media/ogg.h"
#include "media/wav.h"

namespace tovi::media {
namespace {

using Reader = std::optional<MediaFacts> (*)(ByteSource&);

struct ReaderRow {
  std::string_view extension;
  Reader read;
};

constexpr ReaderRow kReaders[] = {
    {"mp4", ReadMp4Facts}, {"m4v", ReadMp4Facts}, {"mov", ReadMp4Facts},
    {"m4a", ReadMp4Facts}, {"m4b", ReadMp4Facts}, {"3gp", ReadMp4Facts}, {"3g2", ReadMp4Facts},
    {"mkv", ReadMatroskaFacts}, {"webm", ReadMatroskaFacts}, {"mka", ReadMatroskaFacts},
    {"weba", ReadMatroskaFacts},
    {"avi", ReadAviFacts}, {"divx", ReadAviFacts},
    {"asf", ReadAsfFacts}, {"wmv", ReadAsfFacts}, {"wma", ReadAsfFacts},
    {"ts", ReadMpegTsFacts}, {"m2ts", ReadMpegTsFacts}, {"mts", ReadMpegTsFacts},
    {"mpg", ReadMpegPsFacts}, {"mpeg", ReadMpegPsFacts}, {"vob", ReadMpegPsFacts},
    {"flv", ReadFlvFacts},
    {"mp3", ReadMp3Facts}, {"aac", ReadAacFacts},
    {"flac", ReadFlacFacts},
    {"wav", ReadWavFacts}, {"aiff", ReadAiffFacts}, {"aif", ReadAiffFacts},
    {"ogg", ReadOggFacts}, {"oga", ReadOggFacts}, {"opus", ReadOggFacts}, {"ogv", ReadOggFacts},
    {"jpg", ReadJpegFacts}, {"jpeg", ReadJpegFacts}, {"png", ReadPngFacts},
};

// The video container a file's first bytes show, by the extension of its kind; "" for none
// of these.
std::string_view HeldExtension(ByteSource& source) {
  // Enough for three packets of M2TS; every other sign is in the first 64 bytes.
  const std::string head = source.ReadString(0, 3 * 192 + 4 + 1);
  const std::string_view h = head;
  const auto at = [&](std::size_t offset, std::string_view bytes) {
    return offset <= h.size() && h.substr(offset, bytes.size()) == bytes;
  };
  if (at(0, "\x1a\x45\xdf\xa3")) {  // EBML: its DocType says which
    return h.substr(0, 64).find("webm") != std::string_view::npos ? "webm" : "mkv";
  }
  if (at(4, "ftyp")) return at(8, "qt  ") ? "mov" : "mp4";
  if (at(4, "moov") || at(4, "mdat") || at(4, "wide")) return "mov";  // QuickTime before ftyp
  if (at(0, "RIFF") && at(8, "AVI ")) return "avi";
  if (at(0, std::string_view("\x30\x26\xb2\x75\x8e\x66\xcf\x11", 8))) return "wmv";  // ASF's header object
  if (at(0, "FLV\x01")) return "flv";
  if (at(0, std::string_view("\0\0\1\xba", 4))) return "mpg";  // a pack header
  // Sync bytes of packets in a row, for TS's 188 bytes or M2TS's 192 from byte 4; the rest of
  // the packets the TS reader checks.
  const auto synced = [&](std::size_t first, std::size_t step) {
    for (std::size_t i = 0; i < 3; ++i)
      if (first + i * step >= h.size() || h[first + i * step] != '\x47') return false;
    return true;
  };
  if (synced(0, 188)) return "ts";
  if (synced(4, 192)) return "m2ts";
  return "";
}

const ReaderRow* ReaderOf(std::string_view extension) {
  for (const ReaderRow& row : kReaders) {
    if (row.extension == extension) return &row;
  }
  return nullptr;
}

}  // namespace

std::optional<MediaFacts> ReadFacts(std::string_view extension, ByteSource& source) {
  const ReaderRow* own = ReaderOf(extension);
  if (!own) return std::nullopt;
  std::optional<MediaFacts> facts = own->read(source);
  if (facts) return facts;
  // A picture is no film, whatever its bytes.
  if (own->read == ReadJpegFacts || own->read == ReadPngFacts) return facts;
  const std::string_view held = HeldExtension(source);
  const ReaderRow* other = held.empty() || held == extension ? nullptr : ReaderOf(held);
  if (!other || other->read == own->read) return facts;
  facts = other->read(source);
  if (facts) facts->heldExtension = held;
  return facts;
}

}  // namespace tovi::media

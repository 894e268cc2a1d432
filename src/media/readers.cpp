// Which reader reads which extension.
#include <utility>

#include "media/facts.h"
#include "media/flac.h"
#include "media/image.h"
#include "media/mp3.h"
#include "media/mpeg_ts.h"
#include "media/ogg.h"
#include "media/wav.h"

namespace tovi::media {

namespace {

using Reader = std::optional<MediaFacts> (*)(ByteSource&);

constexpr std::pair<std::string_view, Reader> kReaders[] = {
    {"ts", ReadMpegTsFacts},
    {"m2ts", ReadMpegTsFacts},
    {"mts", ReadMpegTsFacts},
    {"mp3", ReadMp3Facts},
    {"flac", ReadFlacFacts},
    {"wav", ReadWavFacts},
    {"ogg", ReadOggFacts},
    {"oga", ReadOggFacts},
    {"opus", ReadOggFacts},
    {"ogv", ReadOggFacts},
    {"jpg", ReadJpegFacts},
    {"jpeg", ReadJpegFacts},
    {"png", ReadPngFacts},
};

}  // namespace

std::optional<MediaFacts> ReadFacts(std::string_view extension, ByteSource& source) {
  for (const auto& [known, reader] : kReaders)
    if (known == extension) return reader(source);
  return std::nullopt;
}

}  // namespace tovi::media

// Which reader reads which extension.
#include <iterator>

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

}  // namespace

std::optional<MediaFacts> ReadFacts(std::string_view extension, ByteSource& source) {
  for (const ReaderRow& row : kReaders) {
    if (row.extension == extension) return row.read(source);
  }
  return std::nullopt;
}

}  // namespace tovi::media

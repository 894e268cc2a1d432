#include "local/media_types.h"

#include <algorithm>
#include <array>
#include <string>

#include "local/paths.h"

namespace tovi::local {

namespace {

constexpr std::array<MediaType, 40> kMediaTypes{{
    {"mp4", MediaKind::Video, "video/mp4", ""},
    {"m4v", MediaKind::Video, "video/mp4", ""},
    {"mkv", MediaKind::Video, "video/x-matroska", ""},
    {"avi", MediaKind::Video, "video/x-msvideo", ""},
    {"divx", MediaKind::Video, "video/x-msvideo", ""},
    {"ts", MediaKind::Video, "video/vnd.dlna.mpeg-tts", ""},
    {"m2ts", MediaKind::Video, "video/vnd.dlna.mpeg-tts", ""},
    {"mts", MediaKind::Video, "video/vnd.dlna.mpeg-tts", ""},
    {"mpg", MediaKind::Video, "video/mpeg", ""},
    {"mpeg", MediaKind::Video, "video/mpeg", ""},
    {"vob", MediaKind::Video, "video/mpeg", ""},
    {"wmv", MediaKind::Video, "video/x-ms-wmv", ""},
    {"asf", MediaKind::Video, "video/x-ms-asf", ""},
    {"webm", MediaKind::Video, "video/webm", ""},
    {"mov", MediaKind::Video, "video/quicktime", ""},
    {"3gp", MediaKind::Video, "video/3gpp", ""},
    {"3g2", MediaKind::Video, "video/3gpp2", ""},
    {"flv", MediaKind::Video, "video/x-flv", ""},
    {"ogv", MediaKind::Video, "video/ogg", ""},
    // MPEG-1 Layer III is what nearly every .mp3 holds, and the one profile its files share.
    {"mp3", MediaKind::Audio, "audio/mpeg", "MP3"},
    {"flac", MediaKind::Audio, "audio/flac", ""},
    {"m4a", MediaKind::Audio, "audio/mp4", ""},
    {"m4b", MediaKind::Audio, "audio/mp4", ""},  // audiobooks
    {"aac", MediaKind::Audio, "audio/aac", ""},
    {"wav", MediaKind::Audio, "audio/wav", ""},
    {"aiff", MediaKind::Audio, "audio/x-aiff", ""},
    {"aif", MediaKind::Audio, "audio/x-aiff", ""},
    {"mka", MediaKind::Audio, "audio/x-matroska", ""},
    {"weba", MediaKind::Audio, "audio/webm", ""},
    {"wma", MediaKind::Audio, "audio/x-ms-wma", ""},
    {"ogg", MediaKind::Audio, "audio/ogg", ""},
    {"oga", MediaKind::Audio, "audio/ogg", ""},
    {"opus", MediaKind::Audio, "audio/ogg", ""},
    {"jpg", MediaKind::Image, "image/jpeg", ""},
    {"jpeg", MediaKind::Image, "image/jpeg", ""},
    {"png", MediaKind::Image, "image/png", ""},
    {"gif", MediaKind::Image, "image/gif", ""},
    {"bmp", MediaKind::Image, "image/bmp", ""},
    {"webp", MediaKind::Image, "image/webp", ""},
    {"heic", MediaKind::Image, "image/heic", ""},
}};

// No VobSub: its .sub is pictures that need the .idx beside it, and no player fetches such a pair
// from a media server; a .sub offered is text.
constexpr std::array<SubtitleType, 5> kSubtitleTypes{{
    {kSubtitleExtension, kSubtitleMime},
    {"ass", "text/x-ssa"},
    {"ssa", "text/x-ssa"},
    {"vtt", "text/vtt"},
    {"sub", "text/x-microdvd"},
}};

}  // namespace

const MediaType* MediaTypeOfName(std::string_view name) {
  // "._film.mkv" is the resource fork macOS leaves beside film.mkv on a FAT, exFAT or network
  // disk: a few KiB that no player can play, visible wherever dot files are not hidden.
  const std::size_t separator = name.find_last_of("/\\");
  if (name.substr(separator == std::string_view::npos ? 0 : separator + 1).starts_with("._")) {
    return nullptr;
  }
  return MediaTypeOfExtension(ExtensionOf(name));
}

const MediaType* MediaTypeOfExtension(std::string_view extension) {
  if (extension.empty()) return nullptr;
  const auto found = std::find_if(kMediaTypes.begin(), kMediaTypes.end(), [&](const MediaType& t) {
    return extension == t.extension;
  });
  return found == kMediaTypes.end() ? nullptr : &*found;
}

const SubtitleType* SubtitleTypeOfName(std::string_view name) {
  const std::string extension = ExtensionOf(name);
  if (extension.empty()) return nullptr;
  const auto found = std::find_if(kSubtitleTypes.begin(), kSubtitleTypes.end(),
                                  [&](const SubtitleType& t) { return extension == t.extension; });
  return found == kSubtitleTypes.end() ? nullptr : &*found;
}

std::span<const MediaType> AllMediaTypes() { return kMediaTypes; }
std::span<const SubtitleType> AllSubtitleTypes() { return kSubtitleTypes; }

}  // namespace tovi::local

#include "dlna/media_types.h"

#include <algorithm>
#include <array>

#include "platform/files.h"

namespace tovi::dlna {

namespace {

// The flags field: DLNA 1.5, HTTP stalling, background transfer and, for video and audio,
// streaming transfer (01700000...), for pictures interactive transfer (00F00000...); the 24
// reserved hex digits stay zero.
constexpr const char* kStreamingFlags = "01700000000000000000000000000000";
constexpr const char* kInteractiveFlags = "00F00000000000000000000000000000";

constexpr std::array<MediaType, 35> kMediaTypes{{
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
    {"aac", MediaKind::Audio, "audio/aac", ""},
    {"wav", MediaKind::Audio, "audio/wav", ""},
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

// The pictures' profiles by size, the smallest first.
struct PictureBound {
  const char* mime;
  std::uint32_t longSide, shortSide;
  const char* profile;
};
constexpr std::array<PictureBound, 5> kPictureProfiles{{
    {"image/jpeg", 160, 160, "JPEG_TN"},
    {"image/jpeg", 640, 480, "JPEG_SM"},
    {"image/jpeg", 1024, 768, "JPEG_MED"},
    {"image/jpeg", 4096, 4096, "JPEG_LRG"},
    {"image/png", 4096, 4096, "PNG_LRG"},
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

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string ExtensionOf(std::string_view name) {
  const std::size_t dot = name.rfind('.');
  // "/media/x.y/film" has no extension: the dot is a folder's.
  const std::size_t slash = name.find_last_of("/\\");
  if (dot == std::string_view::npos || dot == 0 || (slash != std::string_view::npos && dot < slash + 2)) {
    return std::string();
  }
  std::string extension(name.substr(dot + 1));
  for (char& c : extension) c = LowerAscii(c);
  return extension;
}

std::string_view StemOf(std::string_view path) {
  const std::size_t extension = ExtensionOf(path).size();
  return extension == 0 ? path : path.substr(0, path.size() - extension - 1);
}

std::string_view FileNameOf(std::string_view path) {
  const std::size_t separator = path.rfind(fs::kSeparator);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

const MediaType* MediaTypeOfName(std::string_view name) {
  const std::string extension = ExtensionOf(name);
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

const char* UpnpClassOf(MediaKind kind) {
  switch (kind) {
    case MediaKind::Video: return kVideoClass;
    case MediaKind::Audio: return kAudioClass;
    case MediaKind::Image: return kImageClass;
  }
  return kVideoClass;
}

std::string DlnaFeatures(const MediaType& type) { return DlnaFeatures(type, type.profile); }

std::string DlnaFeatures(const MediaType& type, std::string_view profile) {
  std::string features;
  if (!profile.empty()) features = "DLNA.ORG_PN=" + std::string(profile) + ";";
  features += "DLNA.ORG_OP=01;DLNA.ORG_CI=0;DLNA.ORG_FLAGS=";
  features += type.kind == MediaKind::Image ? kInteractiveFlags : kStreamingFlags;
  return features;
}

std::string ProtocolInfo(const MediaType& type) { return ProtocolInfo(type, type.profile); }

std::string ProtocolInfo(const MediaType& type, std::string_view profile) {
  return HttpProtocolInfo(type.mime, DlnaFeatures(type, profile));
}

std::string PictureProfile(std::string_view mime, std::uint32_t width, std::uint32_t height) {
  const std::uint32_t longSide = std::max(width, height), shortSide = std::min(width, height);
  for (const PictureBound& b : kPictureProfiles) {
    if (mime == b.mime && longSide <= b.longSide && shortSide <= b.shortSide) return b.profile;
  }
  return std::string();
}

std::string HttpProtocolInfo(std::string_view mime, std::string_view features) {
  std::string info = "http-get:*:";
  info += mime;
  info += ':';
  info += features;
  return info;
}

std::string SubtitleProtocolInfo(std::string_view mime) { return HttpProtocolInfo(mime, "*"); }

std::vector<std::string> ServedProtocolInfos() {
  std::vector<std::string> infos;
  const auto add = [&infos](std::string info) {
    if (std::find(infos.begin(), infos.end(), info) == infos.end()) infos.push_back(std::move(info));
  };
  for (const MediaType& type : kMediaTypes) {
    add(ProtocolInfo(type));
    for (const PictureBound& b : kPictureProfiles) {
      if (std::string_view(type.mime) == b.mime) add(ProtocolInfo(type, b.profile));
    }
  }
  for (const SubtitleType& type : kSubtitleTypes) add(SubtitleProtocolInfo(type.mime));
  return infos;
}

}  // namespace tovi::dlna

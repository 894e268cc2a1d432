#include "dlna/media_types.h"

#include <algorithm>
#include <array>

namespace tovi::dlna {

namespace {

// The flags field: DLNA 1.5, HTTP stalling, background transfer and, for video and audio,
// streaming transfer (01700000...), for pictures interactive transfer (00F00000...); the 24
// reserved hex digits stay zero.
constexpr const char* kStreamingFlags = "01700000000000000000000000000000";
constexpr const char* kInteractiveFlags = "00F00000000000000000000000000000";

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

}  // namespace

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

std::string FileProfile(const MediaType& type, const media::MediaFacts& facts) {
  if (type.kind == MediaKind::Image && !*type.profile && facts.width && facts.height &&
      !facts.unprofiledJpeg) {
    return PictureProfile(type.mime, *facts.width, *facts.height);
  }
  return type.profile;
}

namespace {

// The audio type of each video container that may hold sound alone, by the video's mime. Only
// MP4's: its sound type is every TV's music (AAC as .m4a); Matroska and WebM sound types are not
// (a music player that refuses them would stop a file that plays today as a video).
struct SoundOnlyType {
  std::string_view videoMime;
  const char* audioName;
};
constexpr std::array<SoundOnlyType, 1> kSoundOnlyTypes{{
    {"video/mp4", "a.m4a"},
}};

const SoundOnlyType* SoundOnlyTypeOf(const MediaType& type) {
  for (const SoundOnlyType& row : kSoundOnlyTypes) {
    if (type.kind == MediaKind::Video && row.videoMime == type.mime) return &row;
  }
  return nullptr;
}

}  // namespace

const MediaType& FileType(const MediaType& type, const media::MediaFacts& facts) {
  // A misnamed film goes as what it holds: a TV opens a file by its type, and one told
  // video/x-msvideo for a Matroska film refuses it.
  const MediaType* held = &type;
  if (!facts.heldExtension.empty()) {
    const MediaType* found = MediaTypeOfExtension(facts.heldExtension);
    if (found && found->kind == type.kind) held = found;
  }
  const SoundOnlyType* row = SoundOnlyTypeOf(*held);
  if (!row || !facts.soundOnly) return *held;
  return *MediaTypeOfName(row->audioName);
}

bool MayTakeAnotherType(const MediaType& type) { return type.kind != MediaKind::Image; }

bool MayHoldSoundOnly(const MediaType& type) { return SoundOnlyTypeOf(type) != nullptr; }

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
  for (const MediaType& type : local::AllMediaTypes()) {
    add(ProtocolInfo(type));
    for (const PictureBound& b : kPictureProfiles) {
      if (std::string_view(type.mime) == b.mime) add(ProtocolInfo(type, b.profile));
    }
  }
  for (const SubtitleType& type : local::AllSubtitleTypes()) add(SubtitleProtocolInfo(type.mime));
  return infos;
}

}  // namespace tovi::dlna

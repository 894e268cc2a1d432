// How the media-server side names the media files (local/media_types.h says which they are) to
// players: the UPnP class, the protocolInfo with its DLNA features, a picture's profile.
// Pure, constant data; safe from any thread.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "local/media_types.h"
#include "local/paths.h"
#include "media/facts.h"

namespace tovi::dlna {

// The tree is made of the PC's own files: their types and names are the local files' own.
using local::AllMediaTypes;
using local::AllSubtitleTypes;
using local::ExtensionOf;
using local::FileNameOf;
using local::kSubtitleExtension;
using local::kSubtitleMime;
using local::MediaKind;
using local::MediaType;
using local::MediaTypeOfName;
using local::MediaTypeOfExtension;
using local::StemOf;
using local::SubtitleType;
using local::SubtitleTypeOfName;

inline constexpr const char* kVideoClass = "object.item.videoItem";
inline constexpr const char* kAudioClass = "object.item.audioItem.musicTrack";
inline constexpr const char* kImageClass = "object.item.imageItem.photo";
inline constexpr const char* kFolderClass = "object.container.storageFolder";

const char* UpnpClassOf(MediaKind kind);

// The fourth field of a protocolInfo: "DLNA.ORG_PN=...;" where a profile applies, then
// DLNA.ORG_OP=01 (byte ranges, no time seek), DLNA.ORG_CI=0 (the file as it is) and the flags:
// streaming transfer for video and audio, interactive for pictures.
std::string DlnaFeatures(const MediaType& type);
// The same with the profile a file turned out to have in place of the type's ("" = none, also
// for the players that must not be given one).
std::string DlnaFeatures(const MediaType& type, std::string_view profile);

// "http-get:*:<mime>:<DlnaFeatures>", what a res element and ConnectionManager announce.
std::string ProtocolInfo(const MediaType& type);
std::string ProtocolInfo(const MediaType& type, std::string_view profile);
// "http-get:*:<mime>:<features>": any protocolInfo served over HTTP.
std::string HttpProtocolInfo(std::string_view mime, std::string_view features);

// A picture's DLNA profile by its media type and size: JPEG_TN up to 160x160, JPEG_SM up to
// 640x480, JPEG_MED up to 1024x768, JPEG_LRG and PNG_LRG up to 4096x4096 (either way round);
// "" for a larger one or another type. A player refuses a picture whose profile is wrong.
std::string PictureProfile(std::string_view mime, std::uint32_t width, std::uint32_t height);
// The profile a file has by what its headers said (a picture's size; none for a JPEG no profile
// covers); the type's own where they said nothing of it. The res and the file's
// contentFeatures.dlna.org name the same.
std::string FileProfile(const MediaType& type, const media::MediaFacts& facts);
// The type a file is announced and served as: the type of the container it holds when its name
// says another (facts.heldExtension, of the same kind); an .mp4 that holds sound alone as
// audio/mp4, so that a TV files it with the music and plays it in its music player; else type
// itself.
const MediaType& FileType(const MediaType& type, const media::MediaFacts& facts);
// Whether FileType may name another type than type's own, by what the file holds.
bool MayTakeAnotherType(const MediaType& type);
// Whether it may for what the file's own headers say of any file of the type (an MP4 of sound
// alone), not only for a misnamed one.
bool MayHoldSoundOnly(const MediaType& type);
// A subtitle's: "http-get:*:text/srt:*".
std::string SubtitleProtocolInfo(std::string_view mime = kSubtitleMime);

// Every protocolInfo this server sends (each media type's once, with each picture profile, then
// the subtitles'), for
// ConnectionManager's SourceProtocolInfo: join them with ",".
std::vector<std::string> ServedProtocolInfos();

}  // namespace tovi::dlna

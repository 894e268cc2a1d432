// The files the media-server side shows and how it names them to players: by extension
// (ASCII letters in any case), the UPnP class, the media type and, where every file of that
// kind fits one, the DLNA profile. One table; everything else here is read from it.
// Pure, constant data; safe from any thread.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::dlna {

enum class MediaKind { Video, Audio, Image };

struct MediaType {
  const char* extension;   // lower case, no dot
  MediaKind kind;
  const char* mime;
  // The DLNA.ORG_PN value, or "" where it depends on what the file holds (a picture's size, a
  // film's codecs): a player refuses a file whose profile turns out wrong, and plays one that
  // names none.
  const char* profile;
};

inline constexpr const char* kVideoClass = "object.item.videoItem";
inline constexpr const char* kAudioClass = "object.item.audioItem.musicTrack";
inline constexpr const char* kImageClass = "object.item.imageItem.photo";
inline constexpr const char* kFolderClass = "object.container.storageFolder";

// A subtitle beside a video: offered with the video, never shown as an item of its own. SubRip
// (.srt) is the kind nearly every player that reads subtitles takes.
struct SubtitleType {
  const char* extension;  // lower case, no dot; also the kind players are told ("sec:type")
  const char* mime;
};
inline constexpr const char* kSubtitleExtension = "srt";
inline constexpr const char* kSubtitleMime = "text/srt";

// The subtitle's type by its name's extension (srt, ass, ssa, vtt, sub: text MicroDVD), or
// nullptr when it is no subtitle this side offers.
const SubtitleType* SubtitleTypeOfName(std::string_view name);

// The file's type by the extension of its name (the text after the last "."), or nullptr when it
// is no media file this side shows.
const MediaType* MediaTypeOfName(std::string_view name);

// The extension of a name (after the last ".", none when the dot starts the name), lower case.
std::string ExtensionOf(std::string_view name);
// The path without "." and its extension (ExtensionOf's); the whole path when it has none.
std::string_view StemOf(std::string_view path);
// The file's name: the path after its last platform separator.
std::string_view FileNameOf(std::string_view path);

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
// A subtitle's: "http-get:*:text/srt:*".
std::string SubtitleProtocolInfo(std::string_view mime = kSubtitleMime);

// Every protocolInfo this server sends (each media type's once, with each picture profile, then
// the subtitles'), for
// ConnectionManager's SourceProtocolInfo: join them with ",".
std::vector<std::string> ServedProtocolInfos();

}  // namespace tovi::dlna

// Which of the PC's files are media, and of what type: by extension (ASCII letters in any case),
// the kind, the media type and, where every file of that kind fits one, the DLNA profile; and
// the subtitles that go with a video. One table each; everything else is read from them.
// Pure, constant data; safe from any thread.
#pragma once
#include <span>
#include <string_view>

namespace tovi::local {

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
// is no media file this side shows (also for macOS's "._" resource forks).
const MediaType* MediaTypeOfName(std::string_view name);
// The same by the extension itself, in lower case ("mkv").
const MediaType* MediaTypeOfExtension(std::string_view extension);

// Every media type, and every subtitle type in the order of preference.
std::span<const MediaType> AllMediaTypes();
std::span<const SubtitleType> AllSubtitleTypes();

}  // namespace tovi::local

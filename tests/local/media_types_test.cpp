// Which files are media.
#include "local/media_types.h"

#include <gtest/gtest.h>

#include <utility>

namespace tovi::local {
namespace {

// What a player relies on, not the table row by row: a file is found by its name's extension
// in any case (never a folder's), and the types TVs are strict about are the ones they take.
TEST(MediaTypes, NamesEachMediaFileByItsExtensionInAnyCase) {
  const std::pair<const char*, const char*> shown[] = {
      {"a.M4V", "video/mp4"},
      {"a.Avi", "video/x-msvideo"},
      {"a.MTS", "video/vnd.dlna.mpeg-tts"},
      {"a.ts", "video/vnd.dlna.mpeg-tts"},
      {"a.vob", "video/mpeg"},
      {"a.FLAC", "audio/flac"},
      {"a.mp3", "audio/mpeg"},
      {"a.mka", "audio/x-matroska"},
      {"a.AIF", "audio/x-aiff"},
      {"a.JPEG", "image/jpeg"},
      {"C:\\Films.mkv\\x.avi", "video/x-msvideo"},
  };
  for (const auto& [name, mime] : shown) {
    const MediaType* type = MediaTypeOfName(name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_STREQ(type->mime, mime) << name;
  }
  // Subtitles come with their video, partial downloads, names without an extension and macOS's
  // resource forks not at all.
  for (const char* name : {"/media/Films.mkv/readme", "/media/.mkv", "a.srt", "a.txt", "a.mkv.part",
                           "mkv", "a.", "._a.mkv", "E:\\Films\\._a.mp4", "/media/._a.jpg"}) {
    EXPECT_EQ(MediaTypeOfName(name), nullptr) << name;
  }
}

}  // namespace
}  // namespace tovi::local

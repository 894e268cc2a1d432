// Which files the tree shows and the types players are told.
#include "dlna/media_types.h"

#include <gtest/gtest.h>

#include <set>

namespace tovi::dlna {
namespace {

struct TypeCase {
  const char* name;
  const char* upnpClass;  // nullptr: not shown
  const char* mime;
  const char* profile;
};

TEST(MediaTypes, NamesEachMediaFileByItsExtensionInAnyCase) {
  const TypeCase cases[] = {
      {"a.mp4", kVideoClass, "video/mp4", ""},
      {"a.M4V", kVideoClass, "video/mp4", ""},
      {"a.mkv", kVideoClass, "video/x-matroska", ""},
      {"a.Avi", kVideoClass, "video/x-msvideo", ""},
      {"a.ts", kVideoClass, "video/vnd.dlna.mpeg-tts", ""},
      {"a.m2ts", kVideoClass, "video/vnd.dlna.mpeg-tts", ""},
      {"a.MTS", kVideoClass, "video/vnd.dlna.mpeg-tts", ""},
      {"a.mpg", kVideoClass, "video/mpeg", ""},
      {"a.mpeg", kVideoClass, "video/mpeg", ""},
      {"a.vob", kVideoClass, "video/mpeg", ""},
      {"a.wmv", kVideoClass, "video/x-ms-wmv", ""},
      {"a.webm", kVideoClass, "video/webm", ""},
      {"a.mov", kVideoClass, "video/quicktime", ""},
      {"a.3gp", kVideoClass, "video/3gpp", ""},
      {"a.flv", kVideoClass, "video/x-flv", ""},
      {"a.mp3", kAudioClass, "audio/mpeg", "MP3"},
      {"a.FLAC", kAudioClass, "audio/flac", ""},
      {"a.m4a", kAudioClass, "audio/mp4", ""},
      {"a.aac", kAudioClass, "audio/aac", ""},
      {"a.wav", kAudioClass, "audio/wav", ""},
      {"a.wma", kAudioClass, "audio/x-ms-wma", ""},
      {"a.ogg", kAudioClass, "audio/ogg", ""},
      {"a.oga", kAudioClass, "audio/ogg", ""},
      {"a.jpg", kImageClass, "image/jpeg", ""},
      {"a.JPEG", kImageClass, "image/jpeg", ""},
      {"a.png", kImageClass, "image/png", ""},
      {"a.gif", kImageClass, "image/gif", ""},
      {"a.bmp", kImageClass, "image/bmp", ""},
      // Paths: the extension is the name's, never a folder's.
      {"C:\\Films.mkv\\x.avi", kVideoClass, "video/x-msvideo", ""},
      {"/media/Films.mkv/readme", nullptr, nullptr, nullptr},
      {"/media/.mkv", nullptr, nullptr, nullptr},
      {"a.srt", nullptr, nullptr, nullptr},  // offered with its video, not on its own
      {"a.txt", nullptr, nullptr, nullptr},
      {"a.mkv.part", nullptr, nullptr, nullptr},
      {"mkv", nullptr, nullptr, nullptr},
      {"a.", nullptr, nullptr, nullptr},
  };
  for (const TypeCase& c : cases) {
    const MediaType* type = MediaTypeOfName(c.name);
    if (!c.upnpClass) {
      EXPECT_EQ(type, nullptr) << c.name;
      continue;
    }
    ASSERT_NE(type, nullptr) << c.name;
    EXPECT_STREQ(UpnpClassOf(type->kind), c.upnpClass) << c.name;
    EXPECT_STREQ(type->mime, c.mime) << c.name;
    EXPECT_STREQ(type->profile, c.profile) << c.name;
  }
}

TEST(MediaTypes, ProtocolInfosNameTypeTransferAndProfile) {
  EXPECT_EQ(ProtocolInfo(*MediaTypeOfName("a.mkv")),
            "http-get:*:video/x-matroska:DLNA.ORG_OP=01;DLNA.ORG_CI=0;"
            "DLNA.ORG_FLAGS=01700000000000000000000000000000");
  EXPECT_EQ(ProtocolInfo(*MediaTypeOfName("a.mp3")),
            "http-get:*:audio/mpeg:DLNA.ORG_PN=MP3;DLNA.ORG_OP=01;DLNA.ORG_CI=0;"
            "DLNA.ORG_FLAGS=01700000000000000000000000000000");
  // Pictures are shown, not streamed: interactive transfer.
  EXPECT_EQ(ProtocolInfo(*MediaTypeOfName("a.jpg")),
            "http-get:*:image/jpeg:DLNA.ORG_OP=01;DLNA.ORG_CI=0;"
            "DLNA.ORG_FLAGS=00F00000000000000000000000000000");
  EXPECT_EQ(SubtitleProtocolInfo(), "http-get:*:text/srt:*");

  // ConnectionManager offers each once, every item's among them.
  const std::vector<std::string> served = ServedProtocolInfos();
  EXPECT_EQ(std::set<std::string>(served.begin(), served.end()).size(), served.size());
  for (const char* name : {"a.mp4", "a.m4v", "a.ts", "a.mp3", "a.png", "a.ogg"}) {
    EXPECT_NE(std::find(served.begin(), served.end(), ProtocolInfo(*MediaTypeOfName(name))),
              served.end())
        << name;
  }
  for (const char* profile : {"JPEG_TN", "JPEG_LRG"}) {  // a picture's by its size
    EXPECT_NE(std::find(served.begin(), served.end(), ProtocolInfo(*MediaTypeOfName("a.jpg"), profile)),
              served.end())
        << profile;
  }
  // Every subtitle kind offered beside a video; a VobSub index is none.
  for (const char* name : {"a.srt", "a.ASS", "a.ssa", "a.vtt", "a.sub"}) {
    const SubtitleType* type = SubtitleTypeOfName(name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_NE(std::find(served.begin(), served.end(), SubtitleProtocolInfo(type->mime)),
              served.end())
        << name;
  }
  EXPECT_EQ(SubtitleTypeOfName("a.idx"), nullptr);
}

}  // namespace
}  // namespace tovi::dlna

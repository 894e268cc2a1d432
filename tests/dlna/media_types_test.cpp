// Which files the tree shows and the types players are told.
#include "dlna/media_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace tovi::dlna {
namespace {

// What a player relies on, not the table row by row: a file is found by its name's extension
// in any case (never a folder's), its class and type agree on its kind, and the types TVs are
// strict about are the ones they take.
TEST(MediaTypes, NamesEachMediaFileByItsExtensionInAnyCase) {
  const std::pair<const char*, const char*> shown[] = {
      {"a.M4V", "video/mp4"},
      {"a.Avi", "video/x-msvideo"},
      {"a.MTS", "video/vnd.dlna.mpeg-tts"},
      {"a.ts", "video/vnd.dlna.mpeg-tts"},
      {"a.vob", "video/mpeg"},
      {"a.FLAC", "audio/flac"},
      {"a.mp3", "audio/mpeg"},
      {"a.JPEG", "image/jpeg"},
      {"C:\\Films.mkv\\x.avi", "video/x-msvideo"},
  };
  for (const auto& [name, mime] : shown) {
    const MediaType* type = MediaTypeOfName(name);
    ASSERT_NE(type, nullptr) << name;
    EXPECT_STREQ(type->mime, mime) << name;
  }
  for (const char* name :
       {"a.mp4", "a.mkv", "a.webm", "a.m4a", "a.wma", "a.ogg", "a.png", "a.gif"}) {
    const MediaType* type = MediaTypeOfName(name);
    ASSERT_NE(type, nullptr) << name;
    // A class and a type that disagree (a video as audio/...) make a TV refuse the item.
    const std::string mime = type->mime;
    const std::string classStem = "object.item." + mime.substr(0, mime.find('/')) + "Item";
    EXPECT_TRUE(std::string(UpnpClassOf(type->kind)).starts_with(classStem)) << name;
  }
  // Subtitles come with their video, partial downloads and names without an extension not at all.
  for (const char* name :
       {"/media/Films.mkv/readme", "/media/.mkv", "a.srt", "a.txt", "a.mkv.part", "mkv", "a."}) {
    EXPECT_EQ(MediaTypeOfName(name), nullptr) << name;
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

// The types players are told of the files the tree shows.
#include "dlna/media_types.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

namespace tovi::dlna {
namespace {

// A class and a type that disagree (a video as audio/...) make a TV refuse the item.
TEST(MediaTypes, ClassAndTypeAgreeOnTheKind) {
  for (const char* name :
       {"a.mp4", "a.mkv", "a.webm", "a.m4a", "a.mka", "a.aiff", "a.wma", "a.ogg", "a.png",
        "a.gif"}) {
    const MediaType* type = MediaTypeOfName(name);
    ASSERT_NE(type, nullptr) << name;
    const std::string mime = type->mime;
    const std::string classStem = "object.item." + mime.substr(0, mime.find('/')) + "Item";
    EXPECT_TRUE(std::string(UpnpClassOf(type->kind)).starts_with(classStem)) << name;
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

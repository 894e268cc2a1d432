// The MP3 reader on files built frame by frame: lengths from Xing/Info, VBRI or the bitrate
// (tags not counted), lying tags and counts, frames that are not; and the ID3v2 front cover
// found where its bytes lie, or left out when its bytes are not the picture's. The AAC reader
// on ADTS frames alike.
#include "media/mp3.h"

#include <gtest/gtest.h>

#include "media/aac.h"

#include <string>

#include "media/hostile_file.h"  // tests/media/

namespace tovi::media {
namespace {

using testing::BigEndianBytes;
using testing::HostileCase;

// MPEG 1 layer III, 128 kbit/s, 44.1 kHz, stereo: 417-byte frames, 16000 bytes a second.
const std::string kStereo128("\xff\xfb\x90\x00", 4);
constexpr std::size_t kStereo128Bytes = 417;
// MPEG 2 layer III, 64 kbit/s, 22.05 kHz, mono: 208-byte frames.
const std::string kMono64V2("\xff\xf3\x80\xc0", 4);
constexpr std::size_t kMono64V2Bytes = 208;

std::string Frame(const std::string& header, std::size_t bytes, std::size_t tagAt = 0,
                  const std::string& tag = "") {
  std::string frame = header + std::string(bytes - header.size(), '\0');
  if (!tag.empty()) frame.replace(tagAt, tag.size(), tag);
  return frame;
}

std::string Frames(int count, const std::string& first = Frame(kStereo128, kStereo128Bytes)) {
  std::string frames = first;
  for (int i = 1; i < count; ++i) frames += Frame(kStereo128, kStereo128Bytes);
  return frames;
}

std::string Xing(std::uint64_t frames) {
  return "Xing" + BigEndianBytes(1, 4) + BigEndianBytes(frames, 4);
}

std::string SyncSafe(std::uint64_t size) {
  std::string out;
  for (int shift = 21; shift >= 0; shift -= 7) out += static_cast<char>(size >> shift & 0x7f);
  return out;
}

std::string Tag(int version, unsigned flags, const std::string& frames) {
  return "ID3" + BigEndianBytes(version, 1) + std::string(1, '\0') + BigEndianBytes(flags, 1) +
         SyncSafe(frames.size()) + frames;
}

std::string TagFrame(int version, std::string_view id, const std::string& body, unsigned format = 0,
                     std::uint64_t size = 0) {
  size = size ? size : body.size();
  return std::string(id) + (version == 4 ? SyncSafe(size) : BigEndianBytes(size, 4)) + std::string(1, '\0') +
         BigEndianBytes(format, 1) + body;
}

std::string Apic(unsigned type, const std::string& mime, const std::string& picture,
                 const std::string& description = "a", unsigned encoding = 0) {
  const std::string end = encoding == 1 ? std::string(2, '\0') : std::string(1, '\0');
  return BigEndianBytes(encoding, 1) + mime + std::string(1, '\0') + BigEndianBytes(type, 1) + description +
         end + picture;
}

const std::string kId3v1 = "TAG" + std::string(125, ' ');
const std::string kJpeg = "\xff\xd8\xff\xe0 a front cover" + std::string(300, '\x42');
const std::string kPng = "\x89PNG\r\n\x1a\n a back cover" + std::string(100, '\x43');

TEST(Mp3Facts, HostileFilesGiveNoFactsOrSaneOnes) {
  std::string emptyTags;
  for (int i = 0; i < 1000; ++i) emptyTags += Tag(3, 0, "");
  // 10 frames of 417 bytes at 16000 bytes a second: 260 ms.
  const HostileCase cases[] = {
      {"CBR: audio bytes over the bitrate", Frames(10), 260, std::nullopt},
      {"CBR: tags at both ends not counted", Tag(3, 0, std::string(100, '\0')) + Frames(10) + kId3v1, 260,
       std::nullopt},
      {"CBR: a tag with a footer",
       Tag(4, 0x10, std::string(50, '\0')) + "3DI" + std::string(7, '\0') + Frames(10), 260, std::nullopt},
      {"Xing: 116 frames of 1152 samples", Frames(10, Frame(kStereo128, kStereo128Bytes, 36, Xing(116))),
       3030, std::nullopt},
      {"Info in an MPEG 2 mono frame",
       Frame(kMono64V2, kMono64V2Bytes, 13, "Info" + Xing(116).substr(4)) + Frame(kMono64V2, kMono64V2Bytes),
       3030, std::nullopt},
      {"VBRI: 116 frames",
       Frames(10, Frame(kStereo128, kStereo128Bytes, 36,
                        "VBRI" + std::string(6, '\0') + BigEndianBytes(4170, 4) + BigEndianBytes(116, 4))),
       3030, std::nullopt},
      {"two files joined: the bytes past the Xing count play at its rate",
       Frames(40, Frame(kStereo128, kStereo128Bytes, 36,
                        "Xing" + BigEndianBytes(3, 4) + BigEndianBytes(10, 4) + BigEndianBytes(4170, 4))),
       1045, std::nullopt},
      {"VBR without a header: its frames' bitrates, not the first one's (320 kbit/s)",
       Frames(100, Frame(std::string("\xff\xfb\xe0\x00", 4), 1044)), 2652, std::nullopt},
      {"Xing with 2^32 - 1 frames: no length",
       Frames(10, Frame(kStereo128, kStereo128Bytes, 36, Xing(0xffffffff))), std::nullopt, std::nullopt},
      {"Xing without a count: the bitrate's length",
       Frames(10, Frame(kStereo128, kStereo128Bytes, 36, Xing(0))), 260, std::nullopt},
      {"a false sync before the frames", std::string("\xff\xfb\x90\x00\x01\x02", 6) + Frames(10), 260,
       std::nullopt},
      {"1000 chained empty tags", emptyTags + Frames(10), 260, std::nullopt},
      {"a tag past the end", Tag(3, 0, "").substr(0, 6) + SyncSafe(0x0fffffff) + Frames(10), std::nullopt,
       std::nullopt},
      {"64 KiB of nothing before the frames", std::string(65 * 1024, '\0') + Frames(10), std::nullopt,
       std::nullopt},
      {"reserved bitrate everywhere", std::string(2000, '\xff'), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadMp3Facts, c);
  testing::ReadEveryPrefix(ReadMp3Facts,
                           Tag(3, 0, TagFrame(3, "APIC", Apic(3, "image/jpeg", kJpeg))) + Frames(3));

  const auto facts = testing::ReadChecked(ReadMp3Facts, Frames(10));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->channels, 2u);
  EXPECT_EQ(facts->sampleRate, 44100u);
  EXPECT_EQ(facts->bitrate, 16000u);
}

struct CoverCase {
  const char* what;
  std::string tag;
  std::string picture;  // the bytes the cover must point at; empty: no cover
  std::string mime;
};

TEST(Mp3Facts, FrontCoverIsFoundWhereItsBytesLie) {
  const std::string text = TagFrame(3, "TIT2", std::string("\0A title", 8));
  const CoverCase cases[] = {
      {"v2.3: the front cover, not the first picture",
       Tag(3, 0,
           text + TagFrame(3, "APIC", Apic(0, "image/png", kPng)) +
               TagFrame(3, "APIC", Apic(3, "image/jpeg", kJpeg))),
       kJpeg, "image/jpeg"},
      {"v2.4: sizes seven bits a byte", Tag(4, 0, TagFrame(4, "APIC", Apic(3, "image/jpeg", kJpeg)) + text),
       kJpeg, "image/jpeg"},
      {"no front cover: the first picture", Tag(3, 0, TagFrame(3, "APIC", Apic(4, "image/png", kPng))), kPng,
       "image/png"},
      {"a UTF-16 description",
       Tag(3, 0,
           TagFrame(3, "APIC",
                    Apic(3, "image/jpeg", kJpeg,
                         std::string("\xff\xfe"
                                     "a\0",
                                     4),
                         1))),
       kJpeg, "image/jpeg"},
      {"the bytes' type over the tag's word", Tag(3, 0, TagFrame(3, "APIC", Apic(3, "image/jpg", kPng))),
       kPng, "image/png"},
      {"after an extended header",
       Tag(3, 0x40,
           BigEndianBytes(6, 4) + std::string(6, '\0') + TagFrame(3, "APIC", Apic(3, "image/jpeg", kJpeg))),
       kJpeg, "image/jpeg"},
      {"an unsynchronised tag", Tag(3, 0x80, TagFrame(3, "APIC", Apic(3, "image/jpeg", kJpeg))), "", ""},
      {"an unsynchronised frame", Tag(4, 0, TagFrame(4, "APIC", Apic(3, "image/jpeg", kJpeg), 0x02)), "", ""},
      {"a compressed frame", Tag(3, 0, TagFrame(3, "APIC", Apic(3, "image/jpeg", kJpeg), 0x80)), "", ""},
      {"a picture past the end", Tag(3, 0, TagFrame(3, "APIC", Apic(3, "image/jpeg", kJpeg), 0, 1 << 20)), "",
       ""},
      {"a picture frame with no end to its type",
       Tag(3, 0, TagFrame(3, "APIC", std::string("\0image/jpeg", 11))), "", ""},
  };
  for (const CoverCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = c.tag + Frames(3);
    const auto facts = testing::ReadChecked(ReadMp3Facts, file);
    ASSERT_TRUE(facts);
    if (c.picture.empty()) {
      EXPECT_FALSE(facts->coverOffset);
      continue;
    }
    EXPECT_EQ(facts->coverOffset, file.find(c.picture));
    EXPECT_EQ(facts->coverLength, c.picture.size());
    EXPECT_EQ(facts->coverMime, c.mime);
  }
}

TEST(AacFacts, AdtsFramesGiveSoundAndLength) {
  // AAC-LC, 44.1 kHz, 2 channels, frames of 200 bytes: 100 of them are 102400 samples, 2.322 s;
  // behind a tag, before a cut frame.
  std::string frames;
  const std::string header("\xff\xf1\x50\x80\x19\x1f\xfc", 7);
  for (int i = 0; i < 100; ++i) frames += header + std::string(193, '\0');
  const auto facts =
      testing::ReadChecked(ReadAacFacts, Tag(3, 0, std::string(100, '\0')) + frames + header.substr(0, 3));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->durationMs, 2322u);
  EXPECT_EQ(facts->channels, 2u);
  EXPECT_EQ(facts->sampleRate, 44100u);
  EXPECT_FALSE(testing::ReadChecked(ReadAacFacts, Frames(10)));
  testing::ReadEveryPrefix(ReadAacFacts, frames.substr(0, 800));
}

}  // namespace
}  // namespace tovi::media

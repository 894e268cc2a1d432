// The AVI reader on files built chunk by chunk: OpenDML counts, lying sizes, loops of empty
// chunks, zero rates and endless lengths give no facts or believable ones, within the budget.
#include <gtest/gtest.h>

#include <string>

#include "media/avi.h"
#include "media/hostile_file.h"  // tests/media/

namespace tovi::media {
namespace {

using testing::HostileCase;
using testing::LittleEndianBytes;

std::string Zeros(std::size_t n) { return std::string(n, '\0'); }
std::string U32(std::uint64_t v) { return LittleEndianBytes(v, 4); }

std::string Chunk(std::string_view id, const std::string& payload) {
  return std::string(id) + U32(payload.size()) + payload + (payload.size() % 2 ? Zeros(1) : "");
}

std::string List(std::string_view type, const std::string& payload) { return Chunk("LIST", std::string(type) + payload); }

std::string Avih(std::uint64_t usPerFrame, std::uint64_t frames) {
  return Chunk("avih", U32(usPerFrame) + Zeros(12) + U32(frames) + Zeros(4) + U32(2) + Zeros(4) + U32(640) +
                           U32(480) + Zeros(16));
}

std::string Strh(std::string_view type, std::uint64_t scale, std::uint64_t rate, std::uint64_t length) {
  return Chunk("strh", std::string(type) + Zeros(16) + U32(scale) + U32(rate) + Zeros(4) + U32(length) + Zeros(20));
}

// 320x240 stored top down (a negative height).
std::string VideoStream(std::uint64_t scale, std::uint64_t rate, std::uint64_t length) {
  return List("strl", Strh("vids", scale, rate, length) +
                          Chunk("strf", U32(40) + U32(320) + U32(static_cast<std::uint32_t>(-240)) + Zeros(28)));
}

const std::string kAudioStream =
    List("strl", Strh("auds", 1152, 44100, 116) +
                     Chunk("strf", LittleEndianBytes(0x55, 2) + LittleEndianBytes(2, 2) + U32(44100) + Zeros(8)));

std::string Riff(const std::string& chunks, std::uint64_t size = 0) {
  return "RIFF" + U32(size ? size : 4 + chunks.size()) + "AVI " + chunks;
}

std::string File(const std::string& header) { return Riff(List("hdrl", header) + List("movi", Zeros(64))); }

std::string Nested(int depth) {
  std::string inner = Avih(40000, 75);
  for (int i = 0; i < depth; ++i) inner = List("hdrl", inner);
  return inner;
}

TEST(AviFacts, HostileFilesGiveNoFactsOrSaneOnes) {
  // 75 frames at 25 a second (3 s) beside 116 sound frames of 1152 at 44.1 kHz (3.030 s).
  const std::string valid = File(Avih(40000, 75) + VideoStream(1, 25, 75) + kAudioStream);
  std::string junk;
  for (int i = 0; i < 100000; ++i) junk += Chunk("JUNK", "");
  const HostileCase cases[] = {
      {"the longer stream's length", valid, 3030, 320},
      {"OpenDML: avih counts the first RIFF only", File(Avih(40000, 10) + VideoStream(1, 25, 75000)), 3000000, 320},
      {"OpenDML: no stream length, dmlh's count",
       File(Avih(40000, 10) + VideoStream(1, 25, 0) + List("odml", Chunk("dmlh", U32(750) + Zeros(244)))), 30000, 320},
      {"zero stream rate: avih's frames", File(Avih(40000, 75) + VideoStream(1, 0, 75)), 3000, 320},
      {"zero rates everywhere", File(Avih(0, 75) + VideoStream(1, 0, 75)), std::nullopt, 320},
      {"endless stream length", File(Avih(0, 0) + VideoStream(0xFFFFFFFF, 1, 0xFFFFFFFF)), std::nullopt, 320},
      {"list size past the end", Riff("LIST" + U32(0xFFFFFFFF) + "hdrl" + Avih(40000, 75) + VideoStream(1, 25, 75)),
       3000, 320},
      {"RIFF size past the end", Riff(List("hdrl", Avih(40000, 75) + VideoStream(1, 25, 75)), 0xFFFFFFFF), 3000, 320},
      {"100000 empty chunks before avih", File(junk + Avih(40000, 75)), std::nullopt, std::nullopt},
      {"a stream list inside another",
       File(Avih(40000, 75) + List("strl", Strh("vids", 1, 25, 75) + VideoStream(1, 25, 750))), 3000, 640},
      {"header list 1000 deep", Riff(Nested(1000)), std::nullopt, std::nullopt},
      {"not an AVI", "RIFF" + U32(100) + "WAVE" + Zeros(100), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadAviFacts, c);
  testing::ReadEveryPrefix(ReadAviFacts, valid);

  MemorySource source(valid);
  const std::optional<MediaFacts> facts = ReadAviFacts(source);
  ASSERT_TRUE(facts.has_value());
  EXPECT_EQ(facts->height, 240u);
  EXPECT_EQ(facts->channels, 2u);
  EXPECT_EQ(facts->sampleRate, 44100u);
}

}  // namespace
}  // namespace tovi::media

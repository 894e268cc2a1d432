// The OGG reader on files built page by page: Vorbis, Opus (its pre-skip) and Theora (its
// granule shift) lengths from the last page, and missing, endless or lying granules, zero
// rates, chains of opening pages and lacing past the end give no facts or believable ones,
// within the source's budget.
#include "media/ogg.h"

#include <gtest/gtest.h>

#include <string>

#include "media/hostile_file.h"  // tests/media/

namespace tovi::media {
namespace {

using testing::BigEndianBytes;
using testing::HostileCase;
using testing::LittleEndianBytes;

constexpr unsigned kBeginning = 0x02;
constexpr std::uint64_t kNoGranule = ~0ull;

std::string Page(unsigned flags, std::uint64_t granule, std::uint32_t serial, const std::string& body) {
  std::string lacing;
  std::size_t left = body.size();
  do {
    lacing += static_cast<char>(std::min<std::size_t>(left, 255));
    left -= std::min<std::size_t>(left, 255);
  } while (left > 0 || static_cast<unsigned char>(lacing.back()) == 255);
  return "OggS" + std::string(1, '\0') + BigEndianBytes(flags, 1) + LittleEndianBytes(granule, 8) +
         LittleEndianBytes(serial, 4) + std::string(8, '\0') + BigEndianBytes(lacing.size(), 1) + lacing +
         body;
}

std::string Vorbis(std::uint64_t channels, std::uint64_t rate) {
  return "\x01vorbis" + std::string(4, '\0') + BigEndianBytes(channels, 1) + LittleEndianBytes(rate, 4) +
         std::string(13, '\0') + "\x01";
}

std::string Opus(std::uint64_t channels, std::uint64_t preSkip) {
  return "OpusHead\x01" + BigEndianBytes(channels, 1) + LittleEndianBytes(preSkip, 2) +
         LittleEndianBytes(44100, 4) + std::string(3, '\0');
}

// 25 frames a second, a keyframe granule shift of 6.
std::string Theora(std::uint64_t width, std::uint64_t height) {
  return "\x80theora\x03\x02\x01" + BigEndianBytes((width + 15) / 16, 2) +
         BigEndianBytes((height + 15) / 16, 2) + BigEndianBytes(width, 3) + BigEndianBytes(height, 3) +
         BigEndianBytes(0, 2) + BigEndianBytes(25, 4) + BigEndianBytes(1, 4) + BigEndianBytes(1, 3) +
         BigEndianBytes(1, 3) + BigEndianBytes(0, 4) + BigEndianBytes(6 << 5, 2);
}

const std::string kData(3000, '\x33');
// 3.03 s of 44.1 kHz Vorbis: 133623 samples.
const std::string kVorbis = Page(kBeginning, 0, 7, Vorbis(2, 44100)) + Page(0, 0, 7, kData) +
                            Page(0, 133623, 7, kData) + Page(4, kNoGranule, 7, "");

TEST(OggFacts, HostileFilesGiveNoFactsOrSaneOnes) {
  std::string openings;
  for (int i = 0; i < 1000; ++i) openings += Page(kBeginning, 0, 100 + i, "unknown codec");
  const std::string theoraThenVorbis = Page(kBeginning, 0, 1, Theora(322, 180)) +
                                       Page(kBeginning, 0, 2, Vorbis(1, 48000)) +
                                       Page(0, (70ull << 6) + 5, 1, kData) + Page(0, 145440, 2, kData);
  const HostileCase cases[] = {
      {"Vorbis: last granule over rate", kVorbis, 3030, std::nullopt},
      {"Opus: less its pre-skip, at 48 kHz",
       Page(kBeginning, 0, 9, Opus(2, 312)) + Page(0, 145440 + 312, 9, kData), 3030, std::nullopt},
      {"Theora (3 s) and Vorbis (3.03 s): the longer, and the picture", theoraThenVorbis, 3030, 322},
      {"Theora alone: frames over the frame rate",
       Page(kBeginning, 0, 1, Theora(322, 180)) + Page(0, (70ull << 6) + 5, 1, kData), 3000, 322},
      {"another stream's later granule is not ours",
       Page(kBeginning, 0, 7, Vorbis(2, 44100)) + Page(0, 133623, 7, kData) + Page(0, 999999999, 8, kData),
       3030, std::nullopt},
      {"no page with a granule", Page(kBeginning, 0, 7, Vorbis(2, 44100)) + Page(0, kNoGranule, 7, kData),
       std::nullopt, std::nullopt},
      {"2^63 granule", Page(kBeginning, 0, 7, Vorbis(2, 44100)) + Page(0, 1ull << 63, 7, kData), std::nullopt,
       std::nullopt},
      {"zero rate", Page(kBeginning, 0, 7, Vorbis(2, 0)) + Page(0, 133623, 7, kData), std::nullopt,
       std::nullopt},
      {"granule before the pre-skip", Page(kBeginning, 0, 9, Opus(2, 312)) + Page(0, 100, 9, kData),
       std::nullopt, std::nullopt},
      {"1000 opening pages of unknown codecs", openings + kVorbis, std::nullopt, std::nullopt},
      {"lacing past the end", kVorbis.substr(0, 26) + std::string(101, '\xff'), std::nullopt, std::nullopt},
      {"not OGG", "OggT" + kVorbis.substr(4), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadOggFacts, c);
  testing::ReadEveryPrefix(ReadOggFacts,
                           Page(kBeginning, 0, 7, Vorbis(2, 44100)) + Page(0, 133623, 7, "xyz"));

  const auto facts = testing::ReadChecked(ReadOggFacts, theoraThenVorbis);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->height, 180u);
  EXPECT_EQ(facts->channels, 1u);
  EXPECT_EQ(facts->sampleRate, 48000u);
}

TEST(OggFacts, LastPageIsSoughtOnlyInTheTail) {
  // A 5 GiB file: its opening page, then its last page 200 bytes before its end.
  testing::SparseSource source(5ull << 30);
  source.Write(0, Page(kBeginning, 0, 7, Vorbis(2, 44100)));
  source.Write((5ull << 30) - 200, Page(0, 44100ull * 3600, 7, "x"));
  const auto facts = testing::ReadChecked(ReadOggFacts, source);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->durationMs, 3600000u);
  EXPECT_LE(source.Reads(), 3);
}

TEST(OggFacts, StreamRecordedFromItsMiddleCountsFromItsFirstSample) {
  // A radio station's stream recorded from 10,000 s on: its granules start there. The first page
  // of sound ends one packet: a 20 ms Opus packet (its table of contents 0xf8), a Vorbis one of at
  // most half its long block (2048).
  constexpr std::uint64_t kStart = 10000ull * 48000;
  std::string vorbis = Vorbis(2, 48000);
  vorbis[28] = '\xb8';  // blocks of 256 and 2048 samples
  const std::string opusData = "\xf8" + kData;
  const HostileCase cases[] = {
      {"Vorbis", Page(kBeginning, 0, 7, vorbis) + Page(0, 0, 7, kData) + Page(0, kStart + 1024, 7, kData) +
                     Page(0, kStart + 145440, 7, kData), 3030, std::nullopt},
      {"Opus", Page(kBeginning, 0, 9, Opus(2, 312)) + Page(0, 0, 9, "OpusTags") +
                   Page(0, kStart + 960, 9, opusData) + Page(0, kStart + 312 + 145440, 9, opusData), 3030,
       std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadOggFacts, c);
}

}  // namespace
}  // namespace tovi::media

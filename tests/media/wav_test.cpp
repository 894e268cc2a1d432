// The WAV reader on files built chunk by chunk: data sizes past the end (a recording cut
// short), zero rates, chunks without end or without number give no facts or believable ones,
// within the source's budget.
#include "media/wav.h"

#include <gtest/gtest.h>

#include <string>

#include "media/hostile_file.h"  // tests/media/

namespace tovi::media {
namespace {

using testing::HostileCase;
using testing::LittleEndianBytes;

std::string Chunk(std::string_view id, const std::string& body, std::uint64_t size) {
  return std::string(id) + LittleEndianBytes(size, 4) + body;
}

std::string Chunk(std::string_view id, const std::string& body) {
  return Chunk(id, body, body.size()) + (body.size() % 2 ? std::string(1, '\0') : "");
}

std::string Fmt(std::uint64_t channels, std::uint64_t rate, std::uint64_t byteRate) {
  return Chunk("fmt ", LittleEndianBytes(1, 2) + LittleEndianBytes(channels, 2) + LittleEndianBytes(rate, 4) +
                           LittleEndianBytes(byteRate, 4) + LittleEndianBytes(2, 2) +
                           LittleEndianBytes(16, 2));
}

std::string Wave(const std::string& chunks) {
  return "RIFF" + LittleEndianBytes(4 + chunks.size(), 4) + "WAVE" + chunks;
}

// One channel of 16-bit sound at 500 Hz: 1000 bytes a second, so bytes are milliseconds.
const std::string kFmt = Fmt(1, 500, 1000);
const std::string kData = Chunk("data", std::string(3030, '\x11'));

TEST(WavFacts, HostileFilesGiveNoFactsOrSaneOnes) {
  std::string emptyChunks;
  for (int i = 0; i < 10000; ++i) emptyChunks += Chunk("junk", "");
  const HostileCase cases[] = {
      {"data bytes over the byte rate", Wave(kFmt + kData), 3030, std::nullopt},
      {"an odd chunk's pad byte skipped", Wave(kFmt + Chunk("LIST", "abc") + kData), 3030, std::nullopt},
      {"data size past the end: what is there",
       Wave(kFmt + Chunk("data", std::string(1500, '\1'), 0xffffffff)), 1500, std::nullopt},
      {"data size never written: what is there",
       Wave(kFmt + Chunk("data", std::string(1500, '\1'), 0)), 1500, std::nullopt},
      {"zero byte rate: no length", Wave(Fmt(1, 500, 0) + kData), std::nullopt, std::nullopt},
      {"zero channels", Wave(Fmt(0, 500, 1000) + kData), std::nullopt, std::nullopt},
      {"zero rate", Wave(Fmt(1, 0, 1000) + kData), std::nullopt, std::nullopt},
      {"data before fmt", Wave(kData + kFmt), std::nullopt, std::nullopt},
      {"a chunk claiming 4 GiB before the data", Wave(kFmt + Chunk("junk", "", 0xfffffffe) + kData),
       std::nullopt, std::nullopt},
      {"10000 empty chunks before the data", Wave(kFmt + emptyChunks + kData), std::nullopt, std::nullopt},
      {"RF64: the data size in ds64",
       "RF64" + Wave(Chunk("ds64", LittleEndianBytes(0, 8) + LittleEndianBytes(2020, 8) + std::string(12, '\0')) +
                     kFmt + Chunk("data", std::string(3030, '\x11'), 0xffffffff))
                    .substr(4),
       2020, std::nullopt},
      {"RF64: a ds64 size past the end",
       "RF64" + Wave(Chunk("ds64", LittleEndianBytes(0, 8) + LittleEndianBytes(~0ull, 8) + std::string(12, '\0')) +
                     kFmt + Chunk("data", std::string(3030, '\x11'), 0xffffffff))
                    .substr(4),
       3030, std::nullopt},
      {"not RIFF", "RIFX" + Wave(kFmt + kData).substr(4), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadWavFacts, c);
  testing::ReadEveryPrefix(ReadWavFacts, Wave(kFmt + Chunk("data", std::string(300, '\1'))));

  const auto facts = testing::ReadChecked(ReadWavFacts, Wave(kFmt + kData));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->channels, 1u);
  EXPECT_EQ(facts->sampleRate, 500u);
  EXPECT_EQ(facts->bitrate, 1000u);

  // Past 4 GiB a writer that could not go back leaves 0xffffffff as the data size.
  testing::SparseSource big(44 + 6'000'000'000ull);
  big.Write(0, Wave(kFmt + Chunk("data", "", 0xffffffff)));
  const auto bigFacts = testing::ReadChecked(ReadWavFacts, big);
  ASSERT_TRUE(bigFacts);
  EXPECT_EQ(bigFacts->durationMs, 6'000'000'000u);
}

}  // namespace
}  // namespace tovi::media

// The FLAC reader on files built block by block: zero rates, unknown and endless sample
// counts, a STREAMINFO not first or cut short, lying ID3v2 tags before it give no facts or
// believable ones, within the source's budget.
#include "media/flac.h"

#include <gtest/gtest.h>

#include <string>

#include "media/hostile_file.h"  // tests/media/

namespace tovi::media {
namespace {

using testing::BigEndianBytes;
using testing::HostileCase;

// STREAMINFO: block sizes, frame sizes, then rate (20 bits), channels - 1 (3), bits - 1 (5),
// total samples (36), MD5.
std::string StreamInfo(std::uint64_t rate, std::uint64_t channels, std::uint64_t samples,
                       std::uint64_t length = 34, int type = 0) {
  const std::uint64_t packed = rate << 44 | (channels - 1) << 41 | 15ull << 36 | samples;
  const std::string body = BigEndianBytes(4096, 2) + BigEndianBytes(4096, 2) + std::string(6, '\0') +
                           BigEndianBytes(packed, 8) + std::string(16, '\0');
  return BigEndianBytes(0x80 | type, 1) + BigEndianBytes(length, 3) + body.substr(0, length);
}

std::string Id3(std::uint64_t size) {
  std::string syncSafe;
  for (int shift = 21; shift >= 0; shift -= 7) syncSafe += static_cast<char>(size >> shift & 0x7f);
  return std::string("ID3\x04\0\0", 6) + syncSafe;
}

// 3.03 s of 44.1 kHz.
const std::string kValid = "fLaC" + StreamInfo(44100, 2, 133623) + std::string(200, '\x55');

TEST(FlacFacts, HostileFilesGiveNoFactsOrSaneOnes) {
  const HostileCase cases[] = {
      {"samples over rate", kValid, 3030, std::nullopt},
      {"after an ID3v2 tag", Id3(20) + std::string(20, '\0') + kValid, 3030, std::nullopt},
      {"zero rate", "fLaC" + StreamInfo(0, 2, 133623), std::nullopt, std::nullopt},
      {"unknown sample count: no length", "fLaC" + StreamInfo(44100, 2, 0), std::nullopt, std::nullopt},
      {"2^36 - 1 samples at 1 Hz", "fLaC" + StreamInfo(1, 2, (1ull << 36) - 1), std::nullopt, std::nullopt},
      {"a block before STREAMINFO", "fLaC" + StreamInfo(44100, 2, 133623, 34, 4), std::nullopt, std::nullopt},
      {"STREAMINFO shorter than its fields", "fLaC" + StreamInfo(44100, 2, 133623, 20), std::nullopt,
       std::nullopt},
      {"an ID3v2 tag past the end", Id3(0x0fffffff) + kValid, std::nullopt, std::nullopt},
      {"not FLAC", "fLaX" + kValid.substr(4), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadFlacFacts, c);
  testing::ReadEveryPrefix(ReadFlacFacts, kValid);

  const auto facts = testing::ReadChecked(ReadFlacFacts, kValid);
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->channels, 2u);
  EXPECT_EQ(facts->sampleRate, 44100u);
}

}  // namespace
}  // namespace tovi::media

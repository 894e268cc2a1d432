// The ASF reader on files built object by object: broadcast files, prerolls longer than the
// play, endless durations, lying and zero object sizes give no facts or believable ones, within
// the source's budget.
#include <gtest/gtest.h>

#include <string>

#include "media/asf.h"
#include "media/hostile_file.h"  // tests/media/

namespace tovi::media {
namespace {

using testing::HostileCase;
using testing::LittleEndianBytes;

std::string Zeros(std::size_t n) { return std::string(n, '\0'); }
std::string U16(std::uint64_t v) { return LittleEndianBytes(v, 2); }
std::string U32(std::uint64_t v) { return LittleEndianBytes(v, 4); }
std::string U64(std::uint64_t v) { return LittleEndianBytes(v, 8); }

const std::string kHeaderGuid("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
const std::string kFilePropertiesGuid("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
const std::string kStreamPropertiesGuid("\x91\x07\xDC\xB7\xB7\xA9\xCF\x11\x8E\xE6\x00\xC0\x0C\x20\x53\x65", 16);
const std::string kAudioGuid("\x40\x9E\x69\xF8\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
const std::string kVideoGuid("\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B", 16);
constexpr std::uint64_t kBroadcast = 1;

std::string Object(const std::string& guid, const std::string& payload) {
  return guid + U64(24 + payload.size()) + payload;
}

std::string Header(const std::string& objects, std::uint64_t size = 0) {
  return kHeaderGuid + U64(size ? size : 30 + objects.size()) + U32(3) + "\x01\x02" + objects;
}

std::string FileProperties(std::uint64_t play100ns, std::uint64_t prerollMs, std::uint64_t flags = 2) {
  return Object(kFilePropertiesGuid, Zeros(40) + U64(play100ns) + U64(0) + U64(prerollMs) + U32(flags) + U32(3200) +
                                         U32(3200) + U32(800000));
}

std::string Stream(const std::string& type, const std::string& data) {
  return Object(kStreamPropertiesGuid, type + Zeros(24) + U32(data.size()) + U32(0) + U16(1) + U32(0) + data);
}

const std::string kVideo =
    Stream(kVideoGuid, U32(320) + U32(240) + "\x02" + U16(40) + U32(40) + U32(320) + U32(240) + Zeros(28));
const std::string kAudio = Stream(kAudioGuid, U16(0x161) + U16(2) + U32(44100) + U32(16000) + U16(4096) + U16(16));

// 3.03 s of play after a 3.1 s preroll.
const std::string kProperties = FileProperties((3030 + 3100) * 10000, 3100);

TEST(AsfFacts, HostileFilesGiveNoFactsOrSaneOnes) {
  const std::string valid = Header(kProperties + kVideo + kAudio) + Zeros(100);
  std::string unknownObjects;
  for (int i = 0; i < 100000; ++i) unknownObjects += Object(std::string(16, '\x77'), "");
  const HostileCase cases[] = {
      {"play less preroll", valid, 3030, 320},
      {"a broadcast has no length", Header(FileProperties(60000000, 3100, kBroadcast) + kVideo), std::nullopt, 320},
      {"preroll longer than the play", Header(FileProperties(10000, 3100) + kVideo), std::nullopt, 320},
      {"2^64-1 play duration", Header(FileProperties(~0ull, 3100) + kVideo), std::nullopt, 320},
      {"header size past the end", Header(kProperties + kVideo, 1ull << 40), 3030, 320},
      {"zero-size object", Header(kFilePropertiesGuid + U64(0) + kProperties + kVideo), std::nullopt, std::nullopt},
      {"object size past the header",
       Header(kProperties + kStreamPropertiesGuid + U64(1ull << 40) + kVideo.substr(24)), 3030, std::nullopt},
      {"100000 unknown objects first", Header(unknownObjects + kProperties), std::nullopt, std::nullopt},
      {"not an ASF file", std::string(16, '\x30') + Zeros(100), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadAsfFacts, c);
  testing::ReadEveryPrefix(ReadAsfFacts, valid);

  MemorySource source(valid);
  const std::optional<MediaFacts> facts = ReadAsfFacts(source);
  ASSERT_TRUE(facts.has_value());
  EXPECT_EQ(facts->bitrate, 800000u / 8);
  EXPECT_EQ(facts->channels, 2u);
  EXPECT_EQ(facts->sampleRate, 44100u);
}

}  // namespace
}  // namespace tovi::media

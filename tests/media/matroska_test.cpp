// The Matroska reader on files built element by element: Info behind the clusters, unknown
// sizes, lying sizes and seek positions, zero and endless scales give no facts or believable
// ones, within the source's budget.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "media/hostile_file.h"  // tests/media/
#include "media/matroska.h"

namespace tovi::media {
namespace {

using testing::BigEndianBytes;
using testing::HostileCase;

constexpr std::uint32_t kSegment = 0x18538067, kSeekHead = 0x114D9B74, kInfo = 0x1549A966,
                        kTracks = 0x1654AE6B, kCluster = 0x1F43B675;
const std::string kUnknownSize("\x01\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 8);

std::string Id(std::uint32_t id) {
  const int width = id > 0xFFFFFF ? 4 : id > 0xFFFF ? 3 : id > 0xFF ? 2 : 1;
  return BigEndianBytes(id, width);
}

// Sizes as 8-byte numbers, so an element's length does not depend on its values.
std::string Element(std::uint32_t id, const std::string& payload) {
  return Id(id) + "\x01" + BigEndianBytes(payload.size(), 7) + payload;
}

std::string Unsigned(std::uint32_t id, std::uint64_t value) { return Element(id, BigEndianBytes(value, 8)); }

std::string Float(std::uint32_t id, double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, 8);
  return Element(id, BigEndianBytes(bits, 8));
}

std::string Float4(std::uint32_t id, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  return Element(id, BigEndianBytes(bits, 4));
}

const std::string kEbml = Element(0x1A45DFA3, Element(0x4282, "webm"));

std::string Info(std::uint64_t scale, const std::string& duration) {
  return Element(kInfo, Unsigned(0x2AD7B1, scale) + duration);
}

const std::string kInfo3030 = Info(1'000'000, Float(0x4489, 3030.0));
const std::string kTracks320 = Element(
    kTracks,
    Element(0xAE, Unsigned(0x83, 1) + Element(0xE0, Unsigned(0xB0, 320) + Unsigned(0xBA, 240))) +
        Element(0xAE, Unsigned(0x83, 2) + Element(0xE1, Float(0xB5, 48000) + Unsigned(0x9F, 2))));
const std::string kCluster100 = Element(kCluster, std::string(100, '\0'));

std::string Seek(std::uint32_t id, std::uint64_t position) {
  return Element(0x4DBB, Element(0x53AB, Id(id)) + Unsigned(0x53AC, position));
}

// A SeekHead, a cluster, then Info and Tracks where only the SeekHead tells.
std::string InfoBehindClusters() {
  const std::size_t seekHeadSize = Element(kSeekHead, Seek(kInfo, 0) + Seek(kTracks, 0)).size();
  const std::size_t infoAt = seekHeadSize + kCluster100.size();
  const std::string seekHead =
      Element(kSeekHead, Seek(kInfo, infoAt) + Seek(kTracks, infoAt + kInfo3030.size()));
  return Element(kSegment, seekHead + kCluster100 + kInfo3030 + kTracks320);
}

TEST(MatroskaFacts, HostileFilesGiveNoFactsOrSaneOnes) {
  const std::string valid = kEbml + Element(kSegment, kInfo3030 + kTracks320 + kCluster100);
  std::string voids;
  for (int i = 0; i < 100000; ++i) voids += "\xEC\x80";  // empty Void elements
  const HostileCase cases[] = {
      {"Info and Tracks first", valid, 3030, 320},
      {"Info and Tracks behind the clusters", kEbml + InfoBehindClusters(), 3030, 320},
      {"unknown sizes", kEbml + Id(kSegment) + kUnknownSize + kInfo3030 + kTracks320 + Id(kCluster) + kUnknownSize,
       3030, 320},
      {"4-byte Duration", kEbml + Element(kSegment, Info(1'000'000, Float4(0x4489, 3030.0f)) + kTracks320), 3030, 320},
      {"zero TimecodeScale", kEbml + Element(kSegment, Info(0, Float(0x4489, 3030.0)) + kTracks320), std::nullopt, 320},
      {"2^64-1 TimecodeScale", kEbml + Element(kSegment, Info(~0ull, Float(0x4489, 3030.0)) + kTracks320),
       std::nullopt, 320},
      {"NaN Duration", kEbml + Element(kSegment, Info(1'000'000, Float(0x4489, std::nan(""))) + kTracks320),
       std::nullopt, 320},
      {"infinite Duration",
       kEbml + Element(kSegment, Info(1'000'000, Float(0x4489, std::numeric_limits<double>::infinity())) + kTracks320),
       std::nullopt, 320},
      {"negative Duration", kEbml + Element(kSegment, Info(1'000'000, Float(0x4489, -3030.0)) + kTracks320),
       std::nullopt, 320},
      {"SeekHead pointing at itself",
       kEbml + Element(kSegment, Element(kSeekHead, Seek(kInfo, 0) + Seek(kTracks, 0)) + kCluster100 + kInfo3030),
       std::nullopt, std::nullopt},
      {"seek positions past the end",
       kEbml + Element(kSegment, Element(kSeekHead, Seek(kInfo, ~0ull) + Seek(kTracks, 1ull << 40)) + kCluster100),
       std::nullopt, std::nullopt},
      {"Segment size past the end", kEbml + Id(kSegment) + std::string("\x01\x00\xFF\xFF\xFF\xFF\xFF\xFF", 8) + kInfo3030 + kTracks320,
       3030, 320},
      {"100000 Voids before Info", kEbml + Element(kSegment, voids + kInfo3030), std::nullopt, std::nullopt},
      {"invalid number width", kEbml + std::string(8, '\0') + kInfo3030, std::nullopt, std::nullopt},
      {"not a media file", "RIFF" + std::string(100, '\0'), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadMatroskaFacts, c);
  testing::ReadEveryPrefix(ReadMatroskaFacts, valid);
  testing::ReadEveryPrefix(ReadMatroskaFacts, kEbml + InfoBehindClusters());
}

}  // namespace
}  // namespace tovi::media

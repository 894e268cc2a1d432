// The picture readers on headers built segment by segment: JPEG segments with lying or zero
// lengths, endless fill bytes, image data before any frame header; PNG headers with zero or
// impossible sides give no size or the true one, within the source's budget.
#include "media/image.h"

#include <gtest/gtest.h>

#include <string>

#include "media/hostile_file.h"  // tests/media/

namespace tovi::media {
namespace {

using testing::BigEndianBytes;
using testing::HostileCase;

std::string Segment(unsigned marker, const std::string& body) {
  return "\xff" + BigEndianBytes(marker, 1) + BigEndianBytes(2 + body.size(), 2) + body;
}

std::string Frame(unsigned marker, std::uint64_t width, std::uint64_t height) {
  return Segment(
      marker, "\x08" + BigEndianBytes(height, 2) + BigEndianBytes(width, 2) + "\x03" + std::string(9, '\1'));
}

const std::string kSoi = "\xff\xd8";
const std::string kApp0 = Segment(0xe0, std::string("JFIF\0\1\2\0\0\1\0\1\0\0", 14));
const std::string kTables = Segment(0xdb, std::string(65, '\2')) + Segment(0xc4, std::string(30, '\3'));
const std::string kScan = Segment(0xda, std::string(10, '\0')) + std::string(100, '\x5a') + "\xff\xd9";

std::string Png(std::uint64_t width, std::uint64_t height) {
  return "\x89PNG\r\n\x1a\n" + BigEndianBytes(13, 4) + "IHDR" + BigEndianBytes(width, 4) +
         BigEndianBytes(height, 4) + std::string("\x08\x02\0\0\0", 5) + std::string(4, '\0');
}

TEST(ImageFacts, HostileJpegsGiveNoSizeOrTheTrueOne) {
  // A camera's thumbnail in APP1 is skipped by its length, not taken for the picture.
  const std::string thumbnail = Segment(0xe1, "Exif" + std::string(2, '\0') + kSoi + Frame(0xc0, 160, 120));
  const HostileCase cases[] = {
      {"baseline after tables", kSoi + kApp0 + kTables + Frame(0xc0, 641, 479) + kScan, std::nullopt, 641},
      {"progressive", kSoi + kApp0 + Frame(0xc2, 1920, 1080) + kScan, std::nullopt, 1920},
      {"after an embedded thumbnail", kSoi + thumbnail + Frame(0xc0, 4000, 3000) + kScan, std::nullopt, 4000},
      {"fill bytes before a marker", kSoi + "\xff\xff\xff" + Frame(0xc0, 641, 479), std::nullopt, 641},
      {"zero width (set later by DNL)", kSoi + Frame(0xc0, 0, 479) + kScan, std::nullopt, std::nullopt},
      {"scan before any frame", kSoi + kApp0 + kScan + Frame(0xc0, 641, 479), std::nullopt, std::nullopt},
      {"segment length 0", kSoi + "\xff\xe0\0\0" + Frame(0xc0, 641, 479), std::nullopt, std::nullopt},
      {"segment length past the end", kSoi + "\xff\xe0\xff\xff" + Frame(0xc0, 641, 479), std::nullopt,
       std::nullopt},
      {"endless fill bytes", kSoi + std::string(100000, '\xff'), std::nullopt, std::nullopt},
      {"endless restart markers",
       kSoi +
           [] {
             std::string markers;
             for (int i = 0; i < 50000; ++i) markers += "\xff\xd0";
             return markers;
           }() +
           Frame(0xc0, 641, 479),
       std::nullopt, std::nullopt},
      {"not a JPEG", "\xff\xd9" + kApp0 + Frame(0xc0, 641, 479), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadJpegFacts, c);
  testing::ReadEveryPrefix(ReadJpegFacts, kSoi + kApp0 + kTables + Frame(0xc0, 641, 479) + kScan);
  const auto facts = testing::ReadChecked(ReadJpegFacts, kSoi + kApp0 + Frame(0xc0, 641, 479));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->height, 479u);
}

TEST(ImageFacts, HostilePngsGiveNoSizeOrTheTrueOne) {
  const HostileCase cases[] = {
      {"IHDR", Png(333, 222), std::nullopt, 333},
      {"zero width", Png(0, 222), std::nullopt, std::nullopt},
      {"2^32 - 1 wide", Png(0xffffffff, 222), std::nullopt, std::nullopt},
      {"another chunk first", "\x89PNG\r\n\x1a\n" + BigEndianBytes(13, 4) + "gAMA" + Png(333, 222).substr(16),
       std::nullopt, std::nullopt},
      {"not a PNG", "\x89PNX" + Png(333, 222).substr(5), std::nullopt, std::nullopt},
  };
  for (const HostileCase& c : cases) testing::ExpectCase(ReadPngFacts, c);
  testing::ReadEveryPrefix(ReadPngFacts, Png(333, 222));
  const auto facts = testing::ReadChecked(ReadPngFacts, Png(333, 222));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->height, 222u);
}

}  // namespace
}  // namespace tovi::media

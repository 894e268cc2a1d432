#include "server/texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

namespace tovi::server {
namespace {

struct SplitCase { std::string text; std::vector<std::string> pieces; };

TEST(SplitByChars, GivesAtLeastThreePieces) {
  const SplitCase cases[] = {
      {"", {"", "", ""}},
      {"Model", {"Model", "", ""}},
      {"name|code|room", {"name", "code", "room"}},
      {"a|b|c|d|e", {"a", "b", "c", "d", "e"}},
      {"|x", {"", "x", ""}},
      {"a||b", {"a", "", "b"}},
      {"a|b|c|", {"a", "b", "c"}},
      {"a|b|c||", {"a", "b", "c", ""}},
      {"|", {"", "", ""}},
      {"||||", {"", "", "", ""}},
      {"\xD0\x9A\xD1\x83\xD1\x85\xD0\xBD\xD1\x8F|tv", {"\xD0\x9A\xD1\x83\xD1\x85\xD0\xBD\xD1\x8F", "tv", ""}},
  };
  const CharSet bar = MakeCharSet("|");
  for (const SplitCase& c : cases) EXPECT_EQ(SplitByChars(c.text, bar), c.pieces) << c.text;
  EXPECT_EQ(SplitByChars("a;b,c", MakeCharSet(";,")), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(SplitByChars(std::string("a\xFF" "b", 3), MakeCharSet("\xFF")),
            (std::vector<std::string>{"a", "b", ""}));
}

TEST(PathPieces, LastPos) {
  EXPECT_EQ(LastPos("\\", "C:\\Films\\"), 9u);
  EXPECT_EQ(LastPos("\\", "C:\\Films\\a.mkv"), 9u);
  EXPECT_EQ(LastPos("/", "abc"), 0u);
  EXPECT_EQ(LastPos("ab", "abxab"), 4u);
  EXPECT_EQ(LastPos("", "abc"), 0u);
  EXPECT_EQ(LastPos("\\", ""), 0u);
}

TEST(SizeLabels, RoundToTwoDecimalsHalfEven) {
  struct Case { std::int64_t bytes; const char* label; };
  const Case cases[] = {
      {0, "0KB"},       {500, "0.49KB"},         {1536, "1.5KB"},
      {1024, "1KB"},    {128, "0.12KB"},         {384, "0.38KB"},  // exact halves go to even
      {1152, "1.12KB"}, {10, "0.01KB"},          {5, "0KB"},
      {1048576, "1024KB"},                      // only above 1024 KB do megabytes start
      {1048577, "1MB"}, {3 * 1048576, "3MB"},    {1048576 + 524288, "1.5MB"},
      {1048576 + 10485, "1.01MB"},
      {2147483648LL, "2048MB"},                  // 2 GiB and more keep their true size
      {4294967296LL + 1048576LL * 512, "4608MB"},
      {1099511627776LL * 3, "3145728MB"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatSizeLabel(c.bytes, "."), c.label) << c.bytes;
  EXPECT_EQ(FormatSizeLabel(1536, ","), "1,5KB");
  EXPECT_EQ(FormatSizeLabel(1536, "\xD9\xAB"), "1\xD9\xAB" "5KB");  // the Arabic separator
  // Against floating point where the value is far from a half: the label is that of k.
  for (std::int64_t bytes = 0; bytes < 1048576; bytes += 4099) {
    const double k = bytes / 1024.0;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%.2f", k);
    std::string want = expected;
    while (want.back() == '0') want.pop_back();
    if (want.back() == '.') want.pop_back();
    if (std::abs(k * 100 - std::floor(k * 100) - 0.5) > 1e-6) {
      EXPECT_EQ(FormatSizeLabel(bytes, "."), want + "KB") << bytes;
    }
  }
}

TEST(PlaylistUrls, EncodeOnlyWhatDecodingWouldBreak) {
  EXPECT_EQ(EncodeUrlItem("C:\\Films\\My Film (2001).mkv", '\\'), "C:\\Films\\My Film (2001).mkv");
  EXPECT_EQ(EncodeUrlItem("/home/me/\xD0\xB0 b=c;d.mkv", '/'), "/home/me/\xD0\xB0 b=c;d.mkv");
  EXPECT_EQ(EncodeUrlItem("100% a&b+c#d?e", '\\'), "100%25 a%26b%2Bc%23d%3Fe");
  // What only a POSIX name holds: a backslash, which is no separator there, and control bytes.
  EXPECT_EQ(EncodeUrlItem("/m/a\\b\nc\td\xE9.mkv", '/'), "/m/a%5Cb%0Ac%09d\xE9.mkv");
  EXPECT_EQ(M3uEntry("T", "http://x/"), "#EXTINF:-1,T\n\rhttp://x/\n\r");
  EXPECT_EQ(M3uEntry("new\nline\r.mkv", "u"), "#EXTINF:-1,new line .mkv\n\ru\n\r");
}

}  // namespace
}  // namespace tovi::server

#include "platform/codepage.h"

#include <gtest/gtest.h>

#include "platform/utf8.h"

namespace tovi::text {
namespace {

struct Utf8Case {
  const char* what;
  std::string bytes;
  bool wellFormed;
  std::u32string codePoints;
};

TEST(Utf8, DecodesWellFormedAndSkipsMalformedBytes) {
  const Utf8Case cases[] = {
      {"ascii", "abc", true, U"abc"},
      {"two bytes", "\xD0\x94", true, U"\u0414"},
      {"three bytes", "\xE2\x82\xAC", true, U"\u20AC"},
      {"four bytes", "\xF0\x9F\x98\x80", true, U"\U0001F600"},
      {"stray continuation", "a\x80" "b", false, U"ab"},
      {"truncated at the end", "a\xD0", false, U"a"},
      {"truncated before ascii", "\xE2\x82" "x", false, U"x"},
      {"overlong slash", "\xC0\xAF", false, U""},
      {"overlong three-byte", "\xE0\x80\xAF", false, U""},
      {"surrogate", "\xED\xA0\x80", false, U""},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false, U""},
      {"cp1251 bytes", "\xCF\xF0\xE8", false, U""},
      // Each length's first and last code point, and the overlong or excluded one beside it.
      {"last one-byte", "\x7F", true, U"\u007F"},
      {"first two-byte", "\xC2\x80", true, U"\u0080"},
      {"last overlong two-byte", "\xC1\xBF", false, U""},
      {"first three-byte", "\xE0\xA0\x80", true, U"\u0800"},
      {"last overlong three-byte", "\xE0\x9F\xBF", false, U""},
      {"last before the surrogates", "\xED\x9F\xBF", true, U"\uD7FF"},
      {"last surrogate", "\xED\xBF\xBF", false, U""},
      {"first after the surrogates", "\xEE\x80\x80", true, U"\uE000"},
      {"first four-byte", "\xF0\x90\x80\x80", true, U"\U00010000"},
      {"last overlong four-byte", "\xF0\x8F\xBF\xBF", false, U""},
      {"last code point", "\xF4\x8F\xBF\xBF", true, U"\U0010FFFF"},
      {"lead byte past F4", "\xF5\x80\x80\x80", false, U""},
  };
  for (const Utf8Case& c : cases) {
    std::u32string out;
    EXPECT_EQ(DecodeUtf8(c.bytes, &out), c.wellFormed) << c.what;
    EXPECT_EQ(out, c.codePoints) << c.what;
  }
}

TEST(Utf8, EncodingRoundTripsEveryPlane) {
  for (char32_t cp : {U'\0', U'A', U'\u007F', U'\u0080', U'\u07FF', U'\u0800', U'\uFFFD',
                      U'\U00010000', U'\U0010FFFF'}) {
    std::string bytes;
    AppendUtf8(cp, &bytes);
    std::u32string back;
    EXPECT_TRUE(DecodeUtf8(bytes, &back));
    EXPECT_EQ(back, std::u32string(1, cp));
  }
}

TEST(CodePage, AsciiPassesBothWaysUnchanged) {
  const std::string ascii = "C:\\Video\\film 1.mkv?a=b&c";
  std::string exact;
  EXPECT_EQ(Utf8ToAnsi(ascii), ascii);
  EXPECT_TRUE(Utf8ToAnsiExact(ascii, &exact));
  EXPECT_EQ(exact, ascii);
  EXPECT_EQ(AnsiToUtf8(ascii), ascii);
}

TEST(CodePage, MalformedUtf8IsDroppedOrRefusedWhole) {
  const std::string bad = "/C:/Video/a\xFF" "b.mkv";
  std::string exact;
  EXPECT_FALSE(IsWellFormedUtf8(bad));
  EXPECT_FALSE(Utf8ToAnsiExact(bad, &exact));
  EXPECT_EQ(Utf8ToAnsi(bad), "/C:/Video/ab.mkv");
  EXPECT_TRUE(IsWellFormedUtf8(""));
  EXPECT_TRUE(IsWellFormedUtf8("\xD0\x9F\xF0\x9F\x8E\xAC"));
}

TEST(CodePage, TextTheCodePageHoldsSurvivesTheRoundTrip) {
  // On POSIX the code page is UTF-8 and holds everything; on Windows the system code page holds
  // at least what AnsiToUtf8 produced from it.
  const std::string utf8 = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82";  // a Russian word
  const std::string ansi = Utf8ToAnsi(utf8);
  EXPECT_FALSE(ansi.empty());
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(ansi)), ansi);
}

}  // namespace
}  // namespace tovi::text

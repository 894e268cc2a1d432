// The conversions on a Russian Windows: the Windows suites run with the ANSI code page 1251,
// where "é" is missing, as it is for many of our users.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/win32/wide.h"

namespace tovi::text {
namespace {

TEST(CodePage1251, ConvertsWhatThePageHoldsAndMarksTheRestWithoutLookAlikes) {
  ASSERT_EQ(GetACP(), 1251u) << "run with LANG=ru_RU.UTF-8 (scripts/setup.sh makes the locale)";
  struct Case { const char* utf8; std::string ansi; bool exact; };
  const Case cases[] = {
      {"\xD0\x92\xD1\x96\xD0\xB4\xD0\xB5\xD0\xBE", "\xC2\xB3\xE4\xE5\xEE", true},  // Відео
      {"\xD0\xA2\xD0\x92\xE2\x84\x96" "2", "\xD2\xC2\xB9" "2", true},              // ТВ№2
      {"\xD0\x9F\xD1\x91\xD1\x82\xD1\x80", "\xCF\xB8\xF2\xF0", true},              // Пётр
      {"\x7F\xD0\x82", "\x7F\x80", true},  // the last ASCII byte, Ђ: the first byte past it
      {"\xD1\x8F", "\xFF", true},            // я: the last byte
      {"\xC2\x80", "?", false},              // U+0080, which byte 0x80 is not here
      {"Am\xC3\xA9lie.mkv", "Am?lie.mkv", false},  // not "Amelie.mkv": that is another file
      {"C:\\a\xEF\xBC\xBC..", "C:\\a?..", false},  // a full-width "\" must not become one
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi) << c.utf8;
    std::string exact;
    EXPECT_EQ(Utf8ToAnsiExact(c.utf8, &exact), c.exact) << c.utf8;
    if (c.exact) {
      EXPECT_EQ(exact, c.ansi) << c.utf8;
      EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8) << c.utf8;
    }
  }
}

}  // namespace
}  // namespace tovi::text

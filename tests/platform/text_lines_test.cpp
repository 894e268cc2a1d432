#include "platform/text_lines.h"

#include <gtest/gtest.h>

namespace tovi::text {
namespace {

struct LinesCase {
  const char* what;
  std::string bytes;
  std::vector<std::string> lines;
};

TEST(SplitLines, FollowsTheTextFileLineRules) {
  const LinesCase cases[] = {
      {"empty file", "", {}},
      {"LF ends lines", "a\nb\n", {"a", "b"}},
      {"CR LF ends lines", "a\r\nb\r\n", {"a", "b"}},
      {"last line without break", "a\nb", {"a", "b"}},
      {"empty lines kept", "\n\nx\n", {"", "", "x"}},
      {"lone CR dropped inside", "a\rb\n", {"ab"}},
      {"LF CR: the CR starts a line of its own", "a\n\rb\n\r", {"a", "b", ""}},
      {"CR CR LF: one CR dropped", "a\r\r\nb", {"a", "b"}},
      {"Ctrl-Z ends the file", std::string("a\nb\x1a" "c\nd\n"), {"a", "b"}},
      {"Ctrl-Z right after a break", std::string("a\n\x1a" "b"), {"a"}},
      {"Ctrl-Z first", std::string("\x1a" "a\n"), {}},
      {"NUL bytes are data", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
      {"settings file", "[Path]\r\nC:\\Video\r\n[LFRS]\r\ntrue\r\n", {"[Path]", "C:\\Video", "[LFRS]", "true"}},
  };
  for (const LinesCase& c : cases) {
    EXPECT_EQ(SplitLines(c.bytes), c.lines) << c.what;
  }
}

TEST(SplitLines, KeepsVeryLongLinesWhole) {
  const std::string longLine(1 << 20, 'x');
  const auto lines = SplitLines(longLine + "\r\nend");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], longLine);
  EXPECT_EQ(lines[1], "end");
}

}  // namespace
}  // namespace tovi::text

// What the terminal shows of texts a network peer can choose.
#include "platform/posix/terminal_text.h"

#include <gtest/gtest.h>

namespace tovi::gui {
namespace {

TEST(TerminalText, ControlBytesShowAsEscapesAndNothingElseChanges) {
  struct Case {
    std::string text;
    LineBreaks breaks;
    std::string shown;
    TerminalCharset charset = TerminalCharset::Utf8;
  };
  const Case cases[] = {
      // Clear the screen and set the title: the announcement of a hostile peer.
      {"\x1B[2J\x1B]0;owned\x07|x|room", LineBreaks::Escape, "\\x1B[2J\\x1B]0;owned\\x07|x|room"},
      {"a\tb\x7F\x01", LineBreaks::Escape, "a\tb\\x7F\\x01"},
      {"one\r\ntwo\n", LineBreaks::Escape, "one\\x0D\\x0Atwo\\x0A"},
      {"one\r\ntwo\n\x1B", LineBreaks::Keep, "one\r\ntwo\n\\x1B"},
      // C1 controls: CSI in its UTF-8 form and as a stray byte an 8-bit terminal obeys.
      {"x\xC2\x9B" "2Jy\x9B" "2J", LineBreaks::Keep, "x\\xC2\\x9B2Jy\\x9B2J"},
      // Letters stay, U+00A0 (the first after the C1 range) and malformed bytes above it too.
      {"\xD0\x97\xD0\xB0\xD0\xBB \xC2\xA0\xE2\x84\x96 \xFF\xC0", LineBreaks::Escape,
       "\xD0\x97\xD0\xB0\xD0\xBB \xC2\xA0\xE2\x84\x96 \xFF\xC0"},
      {std::string("a\0b", 3), LineBreaks::Escape, "a\\x00b"},
      {"", LineBreaks::Keep, ""},
      // U+201B ends in 0x9B: a quotation mark to a UTF-8 terminal, CSI to one of another
      // charset, which also takes the second bytes of Cyrillic letters (\xD0\x97) as C1.
      {"\xE2\x80\x9B" "2J \xD0\x97", LineBreaks::Escape, "\xE2\x80\x9B" "2J \xD0\x97"},
      {"\xE2\x80\x9B" "2J \xD0\x97", LineBreaks::Escape, "\xE2\\x80\\x9B2J \xD0\\x97",
       TerminalCharset::Other},
      {"x\xC2\x9B" "2Jy\x9B" "2J\x1B\xC2\xA0\n", LineBreaks::Keep,
       "x\\xC2\\x9B2Jy\\x9B2J\\x1B\xC2\xA0\n", TerminalCharset::Other},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EscapeControls(c.text, c.breaks, c.charset), c.shown) << c.shown;
  }
}

}  // namespace
}  // namespace tovi::gui

#include "platform/posix/terminal_text.h"

#include "platform/utf8.h"

namespace tovi::gui {

namespace {

void AppendEscaped(const std::string& bytes, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : bytes) {
    const unsigned char b = static_cast<unsigned char>(c);
    *out += "\\x";
    *out += kHex[b >> 4];
    *out += kHex[b & 0x0F];
  }
}

bool IsControl(char32_t c, LineBreaks breaks) {
  if (c == '\t') return false;
  if (c == '\r' || c == '\n') return breaks == LineBreaks::Escape;
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

}  // namespace

std::string EscapeControls(const std::string& text, LineBreaks breaks) {
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    char32_t c = 0;
    std::size_t length = text::Utf8SequenceLength(text, pos, &c);
    if (length == 0) {  // a byte of no well-formed sequence stands for itself
      length = 1;
      c = static_cast<unsigned char>(text[pos]);
    }
    const std::string piece = text.substr(pos, length);
    if (IsControl(c, breaks)) {
      AppendEscaped(piece, &out);
    } else {
      out += piece;
    }
    pos += length;
  }
  return out;
}

}  // namespace tovi::gui

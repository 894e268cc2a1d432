#include "platform/posix/terminal_text.h"

#include <langinfo.h>
#include <locale.h>

#include <cstring>

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

bool IsC1Byte(char c) {
  const unsigned char b = static_cast<unsigned char>(c);
  return b >= 0x80 && b <= 0x9F;
}

bool IsControl(char32_t c, LineBreaks breaks) {
  if (c == '\t') return false;
  if (c == '\r' || c == '\n') return breaks == LineBreaks::Escape;
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

}  // namespace

TerminalCharset LocaleTerminalCharset() {
  // A locale object of its own: setting the process's locale would change how every other
  // thread classifies bytes.
  const locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return TerminalCharset::Utf8;
  const char* codeset = nl_langinfo_l(CODESET, locale);
  const bool ascii = std::strcmp(codeset, "ANSI_X3.4-1968") == 0;
  const bool utf8 = std::strcmp(codeset, "UTF-8") == 0;
  freelocale(locale);
  return utf8 || ascii ? TerminalCharset::Utf8 : TerminalCharset::Other;
}

std::string EscapeControls(const std::string& text, LineBreaks breaks, TerminalCharset charset) {
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
    } else if (charset == TerminalCharset::Other) {
      for (const char b : piece) {
        if (IsC1Byte(b)) AppendEscaped(std::string(1, b), &out);
        else out += b;
      }
    } else {
      out += piece;
    }
    pos += length;
  }
  return out;
}

}  // namespace tovi::gui

#include "platform/utf8.h"

namespace tovi::text {

std::size_t Utf8SequenceLength(std::string_view utf8, std::size_t pos, char32_t* codePoint) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(utf8[i]); };
  const unsigned char lead = byte(pos);
  std::size_t length;
  char32_t value;
  char32_t minimum;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (pos + length > utf8.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) return 0;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *codePoint = value;
  return length;
}

bool DecodeUtf8(const std::string& utf8, std::u32string* out) {
  bool wellFormed = true;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp;
    const std::size_t length = Utf8SequenceLength(utf8, pos, &cp);
    if (length == 0) {
      wellFormed = false;
      ++pos;
      continue;
    }
    out->push_back(cp);
    pos += length;
  }
  return wellFormed;
}

bool IsWellFormedUtf8(std::string_view bytes) {
  char32_t cp;
  for (std::size_t pos = 0; pos < bytes.size();) {
    const std::size_t length = Utf8SequenceLength(bytes, pos, &cp);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

void AppendUtf8(char32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace tovi::text

#include "dlna/natural_order.h"

#include <cstdint>

#include "platform/utf8.h"

namespace tovi::dlna {
namespace {

// A key is a run of elements, each starting with its class byte, then the name's own bytes
// after kEndOfElements: a shorter name that is a prefix of another comes first, and names
// whose elements are all equal are ordered by their bytes.
constexpr char kEndOfElements = 0x00;
constexpr char kPunctuation = 0x01;
constexpr char kNumber = 0x02;
constexpr char kLetter = 0x03;

// Latin-1 letters U+00C0..U+00FF as the base letter they sort with ('*' = not a letter).
constexpr std::string_view kLatin1Base =
    "aaaaaaaceeeeiiii"
    "dnooooo*ouuuuy\xFEs"
    "aaaaaaaceeeeiiii"
    "dnooooo*ouuuuy\xFEy";

bool IsPunctuation(char32_t c) {
  if (c < 0x80) return !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));  // digits aside
  return (c >= 0x80 && c <= 0xBF) || c == 0xD7 || c == 0xF7 || (c >= 0x2000 && c <= 0x206F) ||
         (c >= 0x3000 && c <= 0x303F) || c == 0xFEFF || c == 0xFFFD;
}

char32_t FoldLatin(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xFF) {
    const char base = kLatin1Base[c - 0xC0];
    return base == '\xFE' ? 0xFE : static_cast<char32_t>(base);  // Þ þ stay one letter
  }
  if (c == 0x178) return 'y';  // Ÿ
  // Latin Extended-A: capital and small in pairs, the capital first; two runs start odd.
  const bool oddFirst = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if (oddFirst) return (c % 2 == 1) ? c + 1 : c;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149) {
    return c | 1;
  }
  return c;
}

char32_t FoldGreek(char32_t c) {
  if (c >= 0x391 && c <= 0x3A9) return c + 0x20;
  if (c == 0x386) return 0x3AC;
  if (c >= 0x388 && c <= 0x38A) return c + 0x25;
  if (c == 0x38C) return 0x3CC;
  if (c == 0x38E || c == 0x38F) return c + 0x3F;
  if (c == 0x3C2) return 0x3C3;  // final sigma
  return c;
}

char32_t FoldCyrillic(char32_t c) {
  if (c == 0x401 || c == 0x451) return 0x435;  // Ё, ё sort as е
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) {
    return c | 1;
  }
  if (c >= 0x4C1 && c <= 0x4CE) return (c % 2 == 1) ? c + 1 : c;
  return c;
}

char32_t Fold(char32_t c) {
  if (c < 0x370) return FoldLatin(c);
  if (c < 0x400) return FoldGreek(c);
  if (c < 0x530) return FoldCyrillic(c);
  return c;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of digits: its significant digits' count (four bytes, most significant first), then
// the digits, so a longer number is the larger whatever the run's length.
std::size_t AppendNumber(std::string_view name, std::size_t pos, std::string* key) {
  while (pos < name.size() && name[pos] == '0') ++pos;
  const std::size_t first = pos;
  while (pos < name.size() && IsDigit(name[pos])) ++pos;
  const auto digits = static_cast<std::uint32_t>(pos - first);
  key->push_back(kNumber);
  for (int shift = 24; shift >= 0; shift -= 8) {
    key->push_back(static_cast<char>((digits >> shift) & 0xFF));
  }
  key->append(name.substr(first, digits));
  return pos;
}

}  // namespace

void AppendNaturalKey(std::string_view name, std::string* key) {
  std::size_t pos = 0;
  while (pos < name.size()) {
    if (IsDigit(name[pos])) {
      pos = AppendNumber(name, pos, key);
      continue;
    }
    char32_t c = 0;
    std::size_t length = text::Utf8SequenceLength(name, pos, &c);
    if (length == 0) {
      c = 0xFFFD;
      length = 1;
    }
    key->push_back(IsPunctuation(c) ? kPunctuation : kLetter);
    text::AppendUtf8(Fold(c), key);  // UTF-8's byte order is its code points' order
    pos += length;
  }
  key->push_back(kEndOfElements);
  key->append(name);
}

std::string NaturalKey(std::string_view name) {
  std::string key;
  key.reserve(name.size() * 2 + 8);
  AppendNaturalKey(name, &key);
  return key;
}

bool NaturalLess(std::string_view a, std::string_view b) { return NaturalKey(a) < NaturalKey(b); }

}  // namespace tovi::dlna

#include "dlna/subtitle_text.h"

#include <algorithm>
#include <array>

#include "platform/eight_bit_text.h"
#include "platform/utf8.h"

namespace tovi::dlna {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::size_t kEightBitPieceBytes = 64 << 10;

enum class Utf16Order { Little, Big };

char16_t Utf16Unit(std::string_view bytes, std::size_t pos, Utf16Order order) {
  const auto first = static_cast<unsigned char>(bytes[pos]);
  const auto second = static_cast<unsigned char>(bytes[pos + 1]);
  return static_cast<char16_t>(order == Utf16Order::Little ? first | (second << 8)
                                                           : (first << 8) | second);
}

std::string Utf16ToUtf8(std::string_view bytes, Utf16Order order) {
  std::string out;
  out.reserve(bytes.size());
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    char32_t c = Utf16Unit(bytes, 2 * i, order);
    if (c >= 0xD800 && c <= 0xDFFF) {
      const char32_t low = i + 1 < units ? Utf16Unit(bytes, 2 * (i + 1), order) : 0;
      if (c <= 0xDBFF && low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      } else {
        c = kReplacement;
      }
    }
    text::AppendUtf8(c, &out);
  }
  return out;
}

// Characters of two bytes or more a line of UTF-8 holds for each byte in it that is no UTF-8 (a
// dash or quote another program pasted in its 8-bit charset, a character cut off) at least.
// Cyrillic in an 8-bit charset makes all but no such characters.
constexpr std::size_t kMinUtf8CharactersPerStrayByte = 4;

// Whether a line that is not well-formed UTF-8 is UTF-8 with a few stray bytes all the same.
bool Utf8WithStrayBytes(std::string_view line) {
  std::size_t characters = 0, stray = 0;
  for (std::size_t at = 0; at < line.size();) {
    char32_t c = 0;
    const std::size_t length = text::Utf8SequenceLength(line, at, &c);
    if (length == 0) ++stray;
    characters += length > 1;
    at += std::max<std::size_t>(length, 1);
  }
  return characters >= 2 && characters >= kMinUtf8CharactersPerStrayByte * stray;
}

// Such a line in well-formed UTF-8: its stray bytes read as the file's 8-bit text.
std::string MendedUtf8(std::string_view line, const LegacyDecoder& reader) {
  std::string out;
  out.reserve(line.size());
  for (std::size_t at = 0; at < line.size();) {
    char32_t c = 0;
    const std::size_t length = text::Utf8SequenceLength(line, at, &c);
    if (length == 0) {
      out += reader(std::string(1, line[at++]));
    } else {
      out += line.substr(at, length);
      at += length;
    }
  }
  return out;
}

// How a line reads: ASCII (alike in every charset), UTF-8 beyond it, UTF-8 with stray bytes, or
// 8-bit text.
enum class LineText { Ascii, Utf8, MendableUtf8, EightBit };

LineText TextOf(std::string_view line) {
  const bool ascii = std::all_of(line.begin(), line.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return LineText::Ascii;
  if (text::IsWellFormedUtf8(line)) return LineText::Utf8;
  return Utf8WithStrayBytes(line) ? LineText::MendableUtf8 : LineText::EightBit;
}

// Whether a well-formed UTF-8 line is UTF-8 beyond doubt: it holds a character of three or four
// bytes, or two of two bytes in a row, as any word of two Cyrillic letters does. A capital of an
// 8-bit charset followed by a sign alone also reads as one two-byte character ("Я…" in
// Windows-1251 is U+07C5), so such lines leave the file's charset undecided.
bool ClearlyUtf8(std::string_view line) {
  bool afterTwoBytes = false;
  for (std::size_t at = 0; at < line.size();) {
    const auto b = static_cast<unsigned char>(line[at]);
    if (b < 0x80) {
      afterTwoBytes = false;
      ++at;
      continue;
    }
    if (b >= 0xE0 || afterTwoBytes) return true;
    afterTwoBytes = true;
    at += 2;
  }
  return false;
}

// Calls each(line, its offset) for each line of bytes, its "\n" included.
template <typename Each>
void ForEachLine(std::string_view bytes, const Each& each) {
  for (std::size_t start = 0; start < bytes.size();) {
    const std::size_t newline = bytes.find('\n', start);
    const std::size_t end = newline == std::string_view::npos ? bytes.size() : newline + 1;
    each(bytes.substr(start, end - start), start);
    start = end;
  }
}

// Russian text files come in three 8-bit charsets: Windows's, KOI8-R (older Unix programs') and
// DOS's CP866.
constexpr std::size_t kCyrillicCharsets = 3;
// The frequent letters another charset must read beyond the PC's own to be taken instead.
constexpr std::size_t kMinLeadLetters = 3;
using CyrillicScores = std::array<std::size_t, kCyrillicCharsets>;

const std::array<const text::EightBitCharset*, kCyrillicCharsets>& CyrillicCharsets() {
  static const std::array<const text::EightBitCharset*, kCyrillicCharsets> charsets{
      text::EightBitCharsetNamed("Windows-1251"), text::EightBitCharsetNamed("KOI8-R"),
      text::EightBitCharsetNamed("CP866")};
  return charsets;
}

// Adds to each Cyrillic charset's score the bytes of line it reads as one of the ten most
// frequent Russian letters: they make half of a Russian text's letters, and few of one read in
// another of the three. In either case: one charset's capitals are another's small letters, so a
// subtitle in capitals ("[МУЗЫКА]", signs) scored by its small letters alone went to the wrong
// one. But a word that reads as a small letter followed by capitals ("оНВЕЛС" for "Почему") is
// that wrong reading, and counts nothing: else a short subtitle in the usual case, its small
// letters the other's capitals, could go to the other.
void AddRussianScores(std::string_view line, CyrillicScores* scores) {
  constexpr unsigned char kNone = 0, kSmall = 1, kCapital = 2, kFrequent = 4;
  static const auto letters = [] {
    constexpr std::u16string_view kFrequentLetters = u"оеаинтсрвлОЕАИНТСРВЛ";
    std::array<std::array<unsigned char, 128>, kCyrillicCharsets> table{};
    for (std::size_t i = 0; i < kCyrillicCharsets; ++i) {
      for (std::size_t b = 0; b < 128; ++b) {
        const char16_t c = CyrillicCharsets()[i]->high[b];
        unsigned char kind = c >= u'\u0400' && c <= u'\u042F'   ? kCapital
                             : c >= u'\u0430' && c <= u'\u045F' ? kSmall
                                                                  : kNone;
        if (kFrequentLetters.find(c) != std::u16string_view::npos) kind |= kFrequent;
        table[i][b] = kind;
      }
    }
    return table;
  }();
  for (std::size_t i = 0; i < kCyrillicCharsets; ++i) {
    std::size_t frequent = 0;  // of the word so far
    unsigned char previous = kNone;
    bool wrongCase = false;
    for (std::size_t at = 0; at <= line.size(); ++at) {
      const auto b = at < line.size() ? static_cast<unsigned char>(line[at]) : 0;
      const unsigned char kind = b < 0x80 ? kNone : letters[i][b - 0x80];
      if ((kind & (kSmall | kCapital)) == 0) {  // the word, if any, has ended
        if (!wrongCase) (*scores)[i] += frequent;
        frequent = 0;
        wrongCase = false;
      } else {
        wrongCase = wrongCase || ((previous & kSmall) != 0 && (kind & kCapital) != 0);
        frequent += (kind & kFrequent) != 0;
      }
      previous = kind;
    }
  }
}

// What the file's 8-bit text is read with: the PC's own charset (legacy), but where that is one
// of the Cyrillic three, the one of them whose reading makes clearly more Russian than the PC's
// own, when one does.
LegacyDecoder EightBitReader(const CyrillicScores& scores, const LegacyDecoder& legacy) {
  std::string letters;  // where the three differ
  for (int b = 0xC0; b <= 0xFF; ++b) letters += static_cast<char>(b);
  const std::string own = legacy(letters);
  const auto& charsets = CyrillicCharsets();
  std::size_t best = kCyrillicCharsets;
  for (std::size_t i = 0; i < kCyrillicCharsets; ++i) {
    if (text::EightBitToUtf8(letters, *charsets[i]) == own) best = i;
  }
  if (best == kCyrillicCharsets) return legacy;
  // Another of the three only where it reads clearly more Russian than the PC's own: a subtitle
  // of a few words ("[МУЗЫКА]") may read as Russian enough in another by chance.
  const std::size_t ownIndex = best;
  const std::size_t lead = std::max(kMinLeadLetters, scores[ownIndex] / 4);
  for (std::size_t i = 0; i < kCyrillicCharsets; ++i) {
    if (scores[i] >= scores[ownIndex] + lead && scores[i] > scores[best]) best = i;
  }
  if (best == ownIndex) return legacy;
  return [charset = charsets[best]](const std::string& bytes) {
    return text::EightBitToUtf8(bytes, *charset);
  };
}

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

std::optional<std::string> DecodedText(std::string_view bytes, const LegacyDecoder& legacy) {
  if (StartsWith(bytes, "\xFF\xFE")) return Utf16ToUtf8(bytes.substr(2), Utf16Order::Little);
  if (StartsWith(bytes, "\xFE\xFF")) return Utf16ToUtf8(bytes.substr(2), Utf16Order::Big);
  if (StartsWith(bytes, kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  // A UTF-8 BOM before 8-bit text (an editor's mix) does not make the text UTF-8. A UTF-8 file
  // with lines an 8-bit editor wrote (two files joined, a line mended in another program) keeps
  // its UTF-8 lines: Cyrillic in an 8-bit charset all but never reads as UTF-8 by chance. A line
  // that may (not ClearlyUtf8: "Я…") does not make a file of 8-bit text such a mix; yet lines of
  // Latin-script UTF-8 are all of that kind (an accented letter here and there, "Schön"), so such
  // lines make the mix when they outnumber the 8-bit ones, as they do in any UTF-8 file.
  bool utf8 = false, eightBit = false;
  std::size_t mayBeUtf8Lines = 0, eightBitLines = 0;
  CyrillicScores scores{};
  ForEachLine(bytes, [&](std::string_view line, std::size_t) {
    const LineText kind = TextOf(line);
    if (kind == LineText::Utf8 && !ClearlyUtf8(line)) ++mayBeUtf8Lines;
    utf8 = utf8 || (kind == LineText::Utf8 && ClearlyUtf8(line)) || kind == LineText::MendableUtf8;
    if (kind == LineText::Ascii || kind == LineText::Utf8) return;
    eightBit = true;  // also for a line to mend: its stray bytes are 8-bit text
    if (kind != LineText::EightBit) return;
    ++eightBitLines;
    AddRussianScores(line, &scores);
  });
  if (!eightBit) return std::string(bytes);
  utf8 = utf8 || mayBeUtf8Lines > eightBitLines;
  const LegacyDecoder reader = EightBitReader(scores, legacy);
  if (!utf8) return reader(std::string(bytes));
  std::string text;
  text.reserve(3 * bytes.size());  // the most it can grow to: no copy of it while it grows
  std::size_t eightBitStart = std::string_view::npos;  // of the lines since the last UTF-8 one
  const auto decodeEightBitUpTo = [&](std::size_t end) {
    if (eightBitStart == std::string_view::npos) return;
    text += reader(std::string(bytes.substr(eightBitStart, end - eightBitStart)));
    eightBitStart = std::string_view::npos;
  };
  ForEachLine(bytes, [&](std::string_view line, std::size_t start) {
    const LineText kind = TextOf(line);
    if (kind == LineText::EightBit) {
      // Decoded a piece at a time, so that the copies held meanwhile stay small.
      if (eightBitStart != std::string_view::npos && start - eightBitStart >= kEightBitPieceBytes) {
        decodeEightBitUpTo(start);
      }
      if (eightBitStart == std::string_view::npos) eightBitStart = start;
    } else if (kind == LineText::MendableUtf8) {
      decodeEightBitUpTo(start);
      text += MendedUtf8(line, reader);
    } else if (kind == LineText::Utf8 || eightBitStart == std::string_view::npos) {
      decodeEightBitUpTo(start);
      text += line;
    }
  });
  decodeEightBitUpTo(bytes.size());
  return text;
}

}  // namespace

std::optional<std::string> SubtitleTextAsUtf8(std::string_view bytes, bool withBom,
                                              const LegacyDecoder& legacy) {
  if (bytes.size() > kMaxConvertedSubtitleBytes) return std::nullopt;
  std::optional<std::string> text = DecodedText(bytes, legacy);
  if (!text) return text;
  // A BOM written twice (a converter's doing) would still read as one.
  std::size_t boms = 0;
  while (StartsWith(std::string_view(*text).substr(boms), kUtf8Bom)) boms += kUtf8Bom.size();
  text->erase(0, boms);
  if (withBom) text->insert(0, kUtf8Bom);
  return text;
}

}  // namespace tovi::dlna

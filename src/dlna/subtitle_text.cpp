#include "dlna/subtitle_text.h"

#include <algorithm>

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

// How a line reads: ASCII (alike in every charset), UTF-8 beyond it, or 8-bit text.
enum class LineText { Ascii, Utf8, EightBit };

LineText TextOf(std::string_view line) {
  const bool ascii = std::all_of(line.begin(), line.end(),
                                 [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if (ascii) return LineText::Ascii;
  return text::IsWellFormedUtf8(line) ? LineText::Utf8 : LineText::EightBit;
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
  // its UTF-8 lines: Cyrillic in an 8-bit charset all but never reads as UTF-8 by chance.
  bool utf8 = false, eightBit = false;
  ForEachLine(bytes, [&](std::string_view line, std::size_t) {
    const LineText kind = TextOf(line);
    utf8 = utf8 || kind == LineText::Utf8;
    eightBit = eightBit || kind == LineText::EightBit;
  });
  if (!eightBit) return std::string(bytes);
  if (!utf8) return legacy(std::string(bytes));
  std::string text;
  text.reserve(3 * bytes.size());  // the most it can grow to: no copy of it while it grows
  std::size_t eightBitStart = std::string_view::npos;  // of the lines since the last UTF-8 one
  const auto decodeEightBitUpTo = [&](std::size_t end) {
    if (eightBitStart == std::string_view::npos) return;
    text += legacy(std::string(bytes.substr(eightBitStart, end - eightBitStart)));
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

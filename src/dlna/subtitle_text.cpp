#include "dlna/subtitle_text.h"

#include "platform/utf8.h"

namespace tovi::dlna {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

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

bool StartsWith(std::string_view bytes, std::string_view prefix) {
  return bytes.substr(0, prefix.size()) == prefix;
}

std::optional<std::string> DecodedText(std::string_view bytes, const LegacyDecoder& legacy) {
  if (StartsWith(bytes, "\xFF\xFE")) return Utf16ToUtf8(bytes.substr(2), Utf16Order::Little);
  if (StartsWith(bytes, "\xFE\xFF")) return Utf16ToUtf8(bytes.substr(2), Utf16Order::Big);
  if (StartsWith(bytes, kUtf8Bom)) bytes.remove_prefix(kUtf8Bom.size());
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  std::string text(bytes);
  // A UTF-8 BOM before 8-bit text (an editor's mix) does not make the text UTF-8.
  if (text::IsWellFormedUtf8(text)) return text;
  return legacy(text);
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

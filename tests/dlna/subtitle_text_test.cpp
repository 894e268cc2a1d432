// What a subtitle's bytes become for a player: UTF-8 from whatever the PC wrote it in, by the
// charset the locale names, with or without a BOM; what is left as it is.
#include "dlna/subtitle_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/eight_bit_text.h"

namespace tovi::dlna {
namespace {

const std::string kLine = "1\r\n00:00:01,000 --> 00:00:02,000\r\n";
const std::string kRussian = "Привет, мир! Ёлка №5";
const std::string kBom = std::string(kUtf8Bom);

// kRussian as the 8-bit charsets and UTF-16 write it.
const std::string kCp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0! \xA8\xEB\xEA\xE0 \xB9" "5";
const std::string kKoi8R = "\xF0\xD2\xC9\xD7\xC5\xD4, \xCD\xC9\xD2! \xB3\xCC\xCB\xC1 N5";
const std::string kCp866 = "\x8F\xE0\xA8\xA2\xA5\xE2, \xAC\xA8\xE0! \xF0\xAB\xAA\xA0 \xFC" "5";
const std::string kIso88595 = "\xBF\xE0\xD8\xD2\xD5\xE2, \xDC\xD8\xE0! \xA1\xDB\xDA\xD0 \xF0" "5";

std::string Utf16(const std::u16string& text, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += little ? std::string{low, high} : std::string{high, low};
  }
  return out;
}

struct Case {
  const char* what;
  std::string bytes;
  const char* locale;  // the name the POSIX side reads the 8-bit charset from
  bool withBom;
  std::optional<std::string> text;  // nullopt: served as it is
};

TEST(SubtitleText, BecomesUtf8FromWhatThePcWroteIt) {
  const std::string over(kMaxConvertedSubtitleBytes + 1, '\xE0');
  const std::string atBound(kMaxConvertedSubtitleBytes, '\xE0');
  std::string atBoundText;
  for (std::size_t i = 0; i < atBound.size(); ++i) atBoundText += "а";
  const Case cases[] = {
      {"Windows-1251 with no locale charset", kLine + kCp1251, "ru_RU.UTF-8", false,
       kLine + kRussian},
      {"Windows-1251 where no locale is set", kCp1251, "", false, kRussian},
      {"Windows-1251 by name", kCp1251, "ru_RU.CP1251", false, kRussian},
      {"KOI8-R by the locale's name", kKoi8R, "ru_RU.KOI8-R", false,
       "Привет, мир! Ёлка N5"},
      {"KOI8-R on a PC of Windows-1251", kLine + kKoi8R, "ru_RU.UTF-8", false,
       kLine + "Привет, мир! Ёлка N5"},
      {"DOS's CP866 on a PC of Windows-1251", kCp866, "", false, kRussian},
      {"Windows-1251 in capitals, not taken for KOI8-R",
       "\xCF\xCE\xC4\xCF\xC8\xD1\xC8 \xD1\xC4\xC5\xCB\xC0\xCD\xDB [\xCC\xD3\xC7\xDB\xCA\xC0]",
       "", false, "ПОДПИСИ СДЕЛАНЫ [МУЗЫКА]"},
      {"a short Windows-1251 subtitle in the usual case, not taken for KOI8-R",
       kLine + "\xCF\xEE\xF7\xE5\xEC\xF3?\r\n\r\n" + kLine + "\xCF\xEE\xEC\xEE\xE3\xE8\xF2\xE5!", "",
       false, kLine + "Почему?\r\n\r\n" + kLine + "Помогите!"},
      {"a few Windows-1251 capitals, not taken for KOI8-R", "[\xCC\xD3\xC7\xDB\xCA\xC0]", "",
       false, "[МУЗЫКА]"},
      {"Windows-1251 on a PC of KOI8-R", kCp1251, "ru_RU.KOI8-R", false, kRussian},
      {"French on a PC of Windows-1252, not taken for Russian",
       "\xC0 la m\xE8re, \xE0 p\xE8re \xE9t\xE9", "fr_FR.CP1252", false,
       "À la mère, à père été"},
      {"ISO-8859-5, spelled as locale -a lists it", kIso88595, "ru_RU.iso88595", false,
       kRussian},
      {"Windows-1252", "Gr\xFC\xDF" "e \x80", "de_DE.CP1252@euro", false, "Grüße €"},
      {"UTF-16LE with its BOM, a pair and an odd byte",
       Utf16(u"Привет\r\n\U0001F600", true) + "x", "", false, "Привет\r\n\U0001F600"},
      {"UTF-16BE with its BOM, a lone surrogate", Utf16(u"Ёлка", false) + "\xD8\x3D", "", false,
       "Ёлка\uFFFD"},
      {"UTF-8 as it is", kLine + kRussian, "ru_RU.KOI8-R", false, kLine + kRussian},
      {"UTF-8's BOM dropped", kBom + kRussian, "", false, kRussian},
      {"a BOM for the player that needs one", kCp1251, "", true, kBom + kRussian},
      {"one BOM, not two", kBom + kRussian, "", true, kBom + kRussian},
      {"a UTF-8 BOM before Windows-1251", kBom + kCp1251, "", false, kRussian},
      {"UTF-8 with a line of Windows-1251 (files joined)",
       kBom + kLine + kRussian + "\r\n\r\n" + kLine + kCp1251 + "\r\n" + kRussian, "", false,
       kLine + kRussian + "\r\n\r\n" + kLine + kRussian + "\r\n" + kRussian},
      {"Windows-1251 with a line that reads as UTF-8 by chance: a capital and an ellipsis",
       kLine + kCp1251 + "\r\n\r\n" + kLine + "- \xDF\x85\r\n", "", false,
       kLine + kRussian + "\r\n\r\n" + kLine + "- Я…\r\n"},
      {"German UTF-8, its letters one by one, with a line an 8-bit editor wrote",
       kLine + "Sch\xC3\xB6n, dich zu sehen.\r\n\r\n" + kLine + "Was f\xC3\xBCr ein Tag!\r\n\r\n" +
           kLine + "Die Zeit l\xE4uft ab.\r\n",
       "de_DE.CP1252", false,
       kLine + "Schön, dich zu sehen.\r\n\r\n" + kLine + "Was für ein Tag!\r\n\r\n" + kLine +
           "Die Zeit läuft ab.\r\n"},
      {"UTF-8 with a dash another program pasted in Windows-1251",
       kLine + kRussian + "\r\n" + kLine + "\xD0\x9D\xD1\x83 \x96 \xD0\xB4\xD0\xB0\r\n", "", false,
       kLine + kRussian + "\r\n" + kLine + "Ну – да\r\n"},
      {"a BOM written twice", Utf16(u"\uFEFFЁлка", false), "", true, kBom + "Ёлка"},
      {"ASCII", kLine, "", true, kBom + kLine},
      {"a NUL: no text", std::string("\x00\x00\x01\xBA", 4), "", false, std::nullopt},
      {"over the bound", over, "", false, std::nullopt},
      {"at the bound", atBound, "", false, atBoundText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const text::EightBitCharset& charset = text::LegacyCharsetOfLocale(c.locale);
    const std::optional<std::string> text = SubtitleTextAsUtf8(
        c.bytes, c.withBom, [&](const std::string& b) { return text::EightBitToUtf8(b, charset); });
    ASSERT_EQ(text.has_value(), c.text.has_value());
    if (text) {
      EXPECT_TRUE(*text == *c.text) << text->substr(0, 200);
    }
  }
}

}  // namespace
}  // namespace tovi::dlna

// The GUI boundary of the Windows build: texts are UTF-8 and reach the wide API as the
// characters they stand for, whatever bytes they hold; nothing is guessed from the bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/gui.h"
#include "platform/win32/wide.h"

namespace tovi::text {
namespace {

TEST(DisplayText, Utf8TextsShowAsTheirCharacters) {
  struct Case { const char* utf8; const wchar_t* shown; };
  // Texts a cp1251 byte guess garbled: a capital В-Я before ё, і, №, «, », — or a no-break space.
  const Case cases[] = {
      {"\xD0\x92\xD1\x96\xD0\xB4\xD0\xB5\xD0\xBE", L"\u0412\u0456\u0434\u0435\u043E"},  // Відео
      {"\xD0\xA2\xD0\x92\xE2\x84\x96" "2", L"\u0422\u0412\u21162"},                     // ТВ№2
      {"\xD0\x9F\xD1\x91\xD1\x82\xD1\x80", L"\u041F\u0451\u0442\u0440"},                // Пётр
      {"\xD0\xAF\xC2\xA0\xC2\xAB\xD0\x90\xC2\xBB\xE2\x80\x94", L"\u042F\u00A0\u00AB\u0410\u00BB\u2014"},
      {"*.m3u, *.xml \xD0\xB2 UTF-8|*.m3u;*.xml", L"*.m3u, *.xml \u0432 UTF-8|*.m3u;*.xml"},
      {"Am\xC3\xA9lie.mkv \xF0\x9F\x8E\xAC", L"Am\u00E9lie.mkv \U0001F3AC"},
      {"", L""},
      // Bytes that are not UTF-8 show as the replacement character, not as code page letters.
      {"\xC2\xD0\xC2" "a\xFF", L"\uFFFD\uFFFD\uFFFDa\uFFFD"},
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToWide(c.utf8), c.shown) << c.utf8;
  EXPECT_EQ(WideToUtf8(L"\u0412\u0456\u0434\u0435\u043E \U0001F3AC"),
            "\xD0\x92\xD1\x96\xD0\xB4\xD0\xB5\xD0\xBE \xF0\x9F\x8E\xAC");
  EXPECT_EQ(WideToUtf8(std::wstring(L"a\xD800" L"b")), "a\xEF\xBF\xBD" "b");  // lone surrogate
}

TEST(DisplayText, TrayRecordIsTheFirstFormOfThePlatform) {
  // The first form ends with the 64-byte tip: 88 bytes with 32-bit handles, 104 with 64-bit.
  EXPECT_EQ(gui::NotifyIconDataSize(), sizeof(void*) == 8 ? 104u : 88u);
}

}  // namespace
}  // namespace tovi::text

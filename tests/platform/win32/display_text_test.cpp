// The GUI boundary of the Windows build: fixed texts (UTF-8) and data in the system code page
// reach the wide API as the characters they stand for.
#include <windows.h>

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/gui.h"
#include "platform/win32/wide.h"

namespace tovi::text {
namespace {

TEST(DisplayText, FixedTextsShowAsUnicodeWhateverTheCodePage) {
  // "Выход" and the filter of the playlist dialog, as the source holds them.
  EXPECT_EQ(DisplayToWide("\xD0\x92\xD1\x8B\xD1\x85\xD0\xBE\xD0\xB4"), L"\u0412\u044B\u0445\u043E\u0434");
  EXPECT_EQ(DisplayToWide("*.m3u, *.xml \xD0\xB2 UTF-8|*.m3u;*.xml"), L"*.m3u, *.xml \u0432 UTF-8|*.m3u;*.xml");
  EXPECT_EQ(DisplayToWide("Remote Toviplayer"), L"Remote Toviplayer");
  EXPECT_EQ(DisplayToWide(""), L"");
}

TEST(DisplayText, DataInTheCodePageShowsAsItsCharacters) {
  // A byte that cannot start UTF-8 is taken from the system code page, also inside mixed text.
  const std::string ansiByte = "\xE9";
  const std::wstring expected = AnsiToWide(ansiByte);
  ASSERT_EQ(expected.size(), 1u);
  EXPECT_EQ(DisplayToWide("C:\\" + ansiByte + "t\xC3\xA9"), L"C:\\" + expected + L"t\u00E9");
  EXPECT_EQ(AnsiToUtf8(ansiByte), WideToUtf8(expected));
}

TEST(DisplayText, TrayRecordIsTheFirstFormOfThePlatform) {
  // The first form ends with the 64-byte tip: 88 bytes with 32-bit handles, 104 with 64-bit.
  EXPECT_EQ(gui::NotifyIconDataSize(), sizeof(void*) == 8 ? 104u : 88u);
}

}  // namespace
}  // namespace tovi::text

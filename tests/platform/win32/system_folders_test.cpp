// The folder a walk of a whole drive passes by on Windows: the Windows folder, in any letter
// case, and what it holds; not the program's own folder nor another on its drive.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "platform/win32/wide.h"

namespace tovi::fs {
namespace {

TEST(SystemFolders, TheWindowsFolderButNoUsersFolder) {
  wchar_t buffer[MAX_PATH + 1];
  const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  ASSERT_GT(n, 0u);
  const std::string windows = text::WideToUtf8(std::wstring(buffer, n)) + "\\";
  for (const std::string& system :
       {windows, windows + "System32\\", windows + "system32\\drivers\\"}) {
    EXPECT_TRUE(IsSystemFolder(system)) << system;
  }
  const std::string drive = windows.substr(0, 3);
  for (const std::string& own :
       {drive, drive + "Users\\Public\\Films\\", drive + "WindowsFilms\\", ExecutableDirectory()}) {
    EXPECT_FALSE(IsSystemFolder(own)) << own;
  }
}

}  // namespace
}  // namespace tovi::fs

// The XDG user directories as xdg-user-dirs writes them, in a home and config of the test's own.
#include "platform/media_folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace tovi::fs {
namespace {

TEST(UserMediaFolders, ExistingXdgMediaDirectoriesInTheirOrderWithTheirNames) {
  testing::TempDir home, config;
  const std::string h = home.Native();
  home.MakeFolder("Videos");
  home.MakeFolder("\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0");  // Музыка
  home.MakeFolder("Films");
  struct Case {
    std::string file;  // "" = none
    std::vector<std::pair<std::string, std::string>> folders;
  };
  const Case cases[] = {
      {"# written by xdg-user-dirs-update\n"
       "XDG_DOWNLOAD_DIR=\"$HOME/\"\n"  // "unset"
       "XDG_DESKTOP_DIR=\"$HOME/Videos\"\n"
       "XDG_PICTURES_DIR=\"$HOME/Pictures\"\n"  // not there
       "XDG_MUSIC_DIR=\"$HOME/\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0\"\r\n"
       "XDG_VIDEOS_DIR=\"$HOME/Videos\"\n",
       {{h + "/Videos/", "Videos"},
        {h + "/\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0/",
         "\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0"}}},
      {"  XDG_VIDEOS_DIR=\"" + h + "//Films/\"\nXDG_PICTURES_DIR=\"relative\"\n",
       {{h + "/Films/", "Films"}}},
      {"XDG_VIDEOS_DIR=\"$HOME/Videos\n", {}},  // no closing quote
      {"", {}},
  };
  const char* ownHome = std::getenv("HOME");
  const std::string savedHome = ownHome ? ownHome : "";
  ASSERT_EQ(setenv("HOME", h.c_str(), 1), 0);
  ASSERT_EQ(setenv("XDG_CONFIG_HOME", config.Native().c_str(), 1), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::filesystem::remove(config.Path("user-dirs.dirs"));
    if (!c.file.empty()) config.Write("user-dirs.dirs", c.file);
    std::vector<std::pair<std::string, std::string>> got;
    for (const MediaFolder& f : UserMediaFolders()) got.emplace_back(f.path, f.title);
    EXPECT_EQ(got, c.folders);
  }
  unsetenv("XDG_CONFIG_HOME");
  setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
}  // namespace tovi::fs

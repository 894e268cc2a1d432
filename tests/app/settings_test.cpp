#include "app/settings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/errors.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace tovi::app {
namespace {

using testing::TempDir;

struct ReadCase {
  const char* what;
  std::string bytes;
  std::optional<std::string> syncFolder;
  bool startServer;
  std::string adapterId = "";
  bool shownToTvs = true;
};

TEST(SettingsFile, ReadingFollowsTheLineRules) {
  const ReadCase cases[] = {
      {"written by the switch, on", "[Path]\r\nC:\\Video\r\n[LFRS]\r\ntrue\r\n", "C:\\Video", true},
      {"written by the switch, off", "[Path]\r\nC:\\Video\r\n[LFRS]\r\nfalse\r\n", "C:\\Video", false},
      {"no folder set", "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n", "", true},
      {"two lines, as older versions' folder sync left it", "[Path]\r\nD:\\Films\r\n", "D:\\Films", false},
      {"only the label", "[Path]\r\n", std::nullopt, false},
      {"empty file", "", std::nullopt, false},
      {"LF line ends", "[Path]\nC:\\V\n[LFRS]\ntrue\n", "C:\\V", true},
      {"no final line break", "[Path]\r\nC:\\V\r\n[LFRS]\r\ntrue", "C:\\V", true},
      {"lone CR dropped", "[Path]\rX\r\nC:\\V\r\n[LF\rRS]\r\ntr\rue\r\n", "C:\\V", true},
      {"lone CRs only, no line ends", "[Path]\rC:\\V\r[LFRS]\rtrue\r", std::nullopt, false},
      {"Ctrl-Z ends the file", std::string("[Path]\r\nC:\\V\r\n\x1a[LFRS]\r\ntrue\r\n"), "C:\\V", false},
      {"Ctrl-Z after true", std::string("[Path]\r\nC:\\V\r\n[LFRS]\r\ntrue\x1a junk"), "C:\\V", true},
      {"extra lines ignored", "[Path]\r\nC:\\V\r\n[LFRS]\r\ntrue\r\nfalse\r\nmore\r\n", "C:\\V", true},
      {"labels are not checked", "x\r\nC:\\V\r\ny\r\ntrue\r\n", "C:\\V", true},
      {"True", "[Path]\r\n\r\n[LFRS]\r\nTrue\r\n", "", false},
      {"trailing blank", "[Path]\r\n\r\n[LFRS]\r\ntrue \r\n", "", false},
      {"leading blank", "[Path]\r\n\r\n[LFRS]\r\n true\r\n", "", false},
      {"1", "[Path]\r\n\r\n[LFRS]\r\n1\r\n", "", false},
      {"tru", "[Path]\r\n\r\n[LFRS]\r\ntru\r\n", "", false},
      {"truee", "[Path]\r\n\r\n[LFRS]\r\ntruee\r\n", "", false},
      {"the label and an empty folder line", "[Path]\r\n\r\n", "", false},
      {"missing fourth line", "[Path]\r\nC:\\V\r\n[LFRS]\r\n", "C:\\V", false},
      {"folder kept byte for byte", "[Path]\r\n  C:\\Мои видео \r\n", "  C:\\Мои видео ", false},
      {"a chosen adapter after the four lines",
       "[Path]\r\nC:\\V\r\n[LFRS]\r\ntrue\r\n[Adapter]\r\n{4D36E972-E325}\r\n", "C:\\V", true,
       "{4D36E972-E325}"},
      {"an adapter line without its label", "[Path]\r\n\r\n[LFRS]\r\ntrue\r\neth0\r\n", "", true},
      {"the label without an adapter", "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[Adapter]\r\n", "", false},
      {"the label in place of the switch", "[Path]\r\n\r\n[LFRS]\r\n[Adapter]\r\neth0\r\n", "",
       false},
      {"not shown to TVs", "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n[DLNA]\r\nfalse\r\n", "", true, "",
       false},
      {"a chosen adapter, not shown to TVs",
       "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[Adapter]\r\neth1\r\n[DLNA]\r\nfalse\r\n", "", false,
       "eth1", false},
      {"the pairs the other way round",
       "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[DLNA]\r\nfalse\r\n[Adapter]\r\neth1\r\n", "", false,
       "eth1", false},
      {"an adapter's id like a label is no label",
       "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[Adapter]\r\n[DLNA]\r\nfalse\r\n", "", false,
       "[DLNA]", true},
      {"the DLNA label without its value", "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n[DLNA]\r\n", "",
       true, "", true},
      {"only false hides", "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n[DLNA]\r\nFalse\r\n", "", true,
       "", true},
  };
  for (const ReadCase& c : cases) {
    TempDir dir;
    const StoredSettings s = ReadSettings(dir.Write("setstovi.cfg", c.bytes));
    EXPECT_EQ(s.syncFolder, c.syncFolder) << c.what;
    EXPECT_EQ(s.startServer, c.startServer) << c.what;
    EXPECT_EQ(s.adapterId, c.adapterId) << c.what;
    EXPECT_EQ(s.shownToTvs, c.shownToTvs) << c.what;
  }
}

TEST(SettingsFile, MissingFileLeavesTheDefaults) {
  TempDir dir;
  const StoredSettings s = ReadSettings(dir.Path("setstovi.cfg"));
  EXPECT_FALSE(s.syncFolder.has_value());
  EXPECT_FALSE(s.startServer);
}

TEST(SettingsFile, AFolderInPlaceOfTheFileIsLikeNoFile) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path("setstovi.cfg"));
  EXPECT_FALSE(ReadSettings(dir.Path("setstovi.cfg")).syncFolder.has_value());
}

TEST(SettingsFile, TheWriterProducesTheLinesTheReaderTakesBack) {
  TempDir dir;
  const std::string path = dir.Path("setstovi.cfg");
  WriteSettings(path, "C:\\Video", true, "", true);
  EXPECT_EQ(fs::ReadWholeFile(path), "[Path]\r\nC:\\Video\r\n[LFRS]\r\ntrue\r\n");
  EXPECT_TRUE(ReadSettings(path).startServer);

  WriteSettings(path, "", false, "", true);
  EXPECT_EQ(fs::ReadWholeFile(path), "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n");
  EXPECT_EQ(ReadSettings(path).syncFolder, std::string());

  // A chosen adapter: two more lines, and the four before them as an older reader takes them.
  WriteSettings(path, "C:\\V", true, "eth1", true);
  EXPECT_EQ(fs::ReadWholeFile(path), "[Path]\r\nC:\\V\r\n[LFRS]\r\ntrue\r\n[Adapter]\r\neth1\r\n");
  StoredSettings back = ReadSettings(path);
  EXPECT_EQ(back.syncFolder, "C:\\V");
  EXPECT_TRUE(back.startServer);
  EXPECT_EQ(back.adapterId, "eth1");
  EXPECT_TRUE(back.shownToTvs);

  // Not shown to TVs: two more lines, after the adapter's (where older versions look for it).
  WriteSettings(path, "C:\\V", true, "eth1", false);
  EXPECT_EQ(fs::ReadWholeFile(path),
            "[Path]\r\nC:\\V\r\n[LFRS]\r\ntrue\r\n[Adapter]\r\neth1\r\n[DLNA]\r\nfalse\r\n");
  back = ReadSettings(path);
  EXPECT_EQ(back.adapterId, "eth1");
  EXPECT_FALSE(back.shownToTvs);
  WriteSettings(path, "", false, "", false);
  EXPECT_EQ(fs::ReadWholeFile(path), "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n[DLNA]\r\nfalse\r\n");
  back = ReadSettings(path);
  EXPECT_EQ(back.adapterId, "");
  EXPECT_FALSE(back.shownToTvs);
}

TEST(SettingsFile, AFailedWriteRaisesTheRuntimeErrorAndKeepsTheOldFile) {
  TempDir dir;
  const std::string folder = dir.Path("gone") + fs::kSeparator;
  try {
    WriteSettings(folder + "setstovi.cfg", "", true, "eth0", true);
    FAIL() << "wrote into a missing folder";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Path not found");
  }
  // The file itself is a folder: the replacement fails and leaves it as it was.
  const std::string path = dir.Path("setstovi.cfg");
  std::filesystem::create_directory(path);
  dir.Write("setstovi.cfg" + std::string(1, fs::kSeparator) + "keep", "k");
  EXPECT_THROW(WriteSettings(path, "C:\\V", false, "eth0", true), EInOutError);
  EXPECT_TRUE(fs::DirectoryExists(path));
}

TEST(SettingsFile, LivesBesideTheExecutable) {
  EXPECT_EQ(SettingsFilePath(), fs::ExecutableDirectory() + "setstovi.cfg");
}

}  // namespace
}  // namespace tovi::app

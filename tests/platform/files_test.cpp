#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/files_parts.h"
#include "platform/errors.h"
#include "support/temp_dir.h"

namespace tovi::fs {
namespace {

using testing::TempDir;

std::vector<std::string> Names(const std::vector<DirEntry>& entries) {
  std::vector<std::string> names;
  for (const DirEntry& e : entries) {
    if (e.name != "." && e.name != "..") names.push_back(e.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Files, ExistenceTellsFilesFromFolders) {
  TempDir dir;
  const std::string file = dir.Write("a.mkv", "x");
  std::filesystem::create_directory(dir.Path("sub"));
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir.Path("sub")));
  EXPECT_FALSE(FileExists(dir.Path("missing")));
  EXPECT_FALSE(FileExists(""));
  EXPECT_TRUE(DirectoryExists(dir.Path("sub")));
  EXPECT_FALSE(DirectoryExists(file));
}

// A request naming a FIFO or a device must neither block a connection thread in open() nor
// stream without end.
TEST(Files, OnlyRegularFilesCountAsFiles) {
  if (kSeparator != '/') GTEST_SKIP() << "FIFOs and device nodes are POSIX things";
  TempDir dir;
  const std::string fifo = dir.Path("pipe.mkv");
  ASSERT_EQ(std::system(("mkfifo '" + fifo + "'").c_str()), 0);
  EXPECT_FALSE(FileExists(fifo));
  EXPECT_FALSE(FileExists("/dev/zero"));
  EXPECT_THROW(ReadOnlyFile{fifo}, EInOutError);  // returns at once instead of waiting for a writer
}

TEST(Files, FindEntriesMatchesMasksAndMarksFolders) {
  TempDir dir;
  dir.Write("a.avi", "1");
  dir.Write("b.txt", "22");
  dir.Write("noext", "");
  std::filesystem::create_directory(dir.Path("x.mkv"));
  const struct {
    const char* mask;
    std::vector<std::string> names;
  } cases[] = {
      {"*.*", {"a.avi", "b.txt", "noext", "x.mkv"}},
      {"*", {"a.avi", "b.txt", "noext", "x.mkv"}},
      {"*.avi", {"a.avi"}},
      {"?.txt", {"b.txt"}},
      {"*.none", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Names(FindEntries(dir.Folder(), c.mask, kAttrAnyFile)), c.names) << c.mask;
  }
  for (const DirEntry& e : FindEntries(dir.Folder(), "*.*", kAttrAnyFile)) {
    EXPECT_EQ(e.IsDirectory(), e.name == "x.mkv" || e.name == "." || e.name == "..") << e.name;
  }
  EXPECT_TRUE(FindEntries(dir.Path("missing") + kSeparator, "*.*", kAttrAnyFile).empty());
}

TEST(Files, HiddenEntriesNeedTheHiddenBit) {
  if (kSeparator != '/') GTEST_SKIP() << "hidden entries are dot names only on POSIX";
  TempDir dir;
  dir.Write(".hidden", "");
  dir.Write("shown", "");
  EXPECT_EQ(Names(FindEntries(dir.Folder(), "*.*", kAttrDirectory)), std::vector<std::string>{"shown"});
  EXPECT_EQ(Names(FindEntries(dir.Folder(), "*.*", kAttrAnyFile)),
            (std::vector<std::string>{".hidden", "shown"}));
}

TEST(Files, ReadOnlyFileReadsAtAnyOffset) {
  TempDir dir;
  const std::string path = dir.Write("film.mp4", "0123456789");
  ReadOnlyFile file(path);
  EXPECT_EQ(file.Size(), 10);
  EXPECT_EQ(FileSize(path), 10);
  char buffer[8];
  EXPECT_EQ(file.ReadAt(7, buffer, sizeof buffer), 3);
  EXPECT_EQ(std::string(buffer, 3), "789");
  EXPECT_EQ(file.ReadAt(10, buffer, sizeof buffer), 0);
  ReadOnlyFile second(path);  // readers share the file
  EXPECT_EQ(second.ReadAt(0, buffer, 2), 2);
  EXPECT_EQ(FileSize(dir.Path("missing")), -1);
}

TEST(Files, OpeningAMissingFileRaisesFileNotFound) {
  TempDir dir;
  try {
    ReadOnlyFile file(dir.Path("missing.mkv"));
    FAIL() << "opened a missing file";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File not found");
  }
  EXPECT_THROW(ReadWholeFile(dir.Path("missing.cfg")), EInOutError);
}

TEST(Files, AtomicWriteReplacesTheWholeFileAndLeavesNoTemporaryFile) {
  TempDir dir;
  const std::string path = dir.Write("setstovi.cfg", "old contents that are longer\r\n");
  WriteFileAtomically(path, "[Path]\r\n\r\n");
  EXPECT_EQ(ReadWholeFile(path), "[Path]\r\n\r\n");
  WriteFileAtomically(dir.Path("new.cfg"), std::string("a\0b", 3));
  EXPECT_EQ(ReadWholeFile(dir.Path("new.cfg")), std::string("a\0b", 3));
  EXPECT_EQ(Names(FindEntries(dir.Folder(), "*.*", kAttrAnyFile)),
            (std::vector<std::string>{"new.cfg", "setstovi.cfg"}));
}

// A power cut right after the rename must find the new bytes on the disk, not a file that is
// only named: every write and the flush come before the rename.
TEST(Files, AtomicWriteMakesTheBytesDurableBeforeTheRename) {
  static std::vector<std::string> steps;  // consecutive writes of one buffer count once
  steps.clear();
  detail::writeStepObserver = [](const char* step) {
    if (steps.empty() || steps.back() != step) steps.emplace_back(step);
  };
  struct Unset { ~Unset() { detail::writeStepObserver = nullptr; } } unset;
  TempDir dir;
  const std::string path = dir.Write("setstovi.cfg", "old");
  WriteFileAtomically(path, std::string(100000, 'n'));
  EXPECT_EQ(steps, (std::vector<std::string>{"write", "flush", "rename"}));
  EXPECT_EQ(ReadWholeFile(path), std::string(100000, 'n'));
}

// A writer killed before its rename leaves its temporary file; the next write removes it, and
// nothing of a writer that may still run.
TEST(Files, AtomicWriteRemovesWhatDeadWritersLeft) {
  TempDir dir;
  const std::string own = std::to_string(detail::CurrentProcessId());
  const std::vector<std::string> leftovers = {
      "setstovi.cfg.~999999999-0",  // a writer that ended: no system hands out such an id
      "setstovi.cfg.~" + own + "-7", "setstovi.cfg.~x-1", "other.cfg.~999999999-0"};
  for (const std::string& name : leftovers) {
    dir.Write(name, "half a file");
  }
  WriteFileAtomically(dir.Path("setstovi.cfg"), "[Path]\r\n");
  EXPECT_EQ(ReadWholeFile(dir.Path("setstovi.cfg")), "[Path]\r\n");
  EXPECT_EQ(Names(FindEntries(dir.Folder(), "*.*", kAttrAnyFile)),
            (std::vector<std::string>{"other.cfg.~999999999-0", "setstovi.cfg",
                                      "setstovi.cfg.~" + own + "-7", "setstovi.cfg.~x-1"}));
}

TEST(Files, FailedAtomicWriteReportsAndKeepsWhatWasThere) {
  TempDir dir;
  // A folder where the file should be: the replacement must fail without harming it.
  std::filesystem::create_directory(dir.Path("setstovi.cfg"));
  dir.Write("setstovi.cfg" + std::string(1, kSeparator) + "keep", "k");
  try {
    WriteFileAtomically(dir.Path("setstovi.cfg"), "[Path]\r\n");
    FAIL() << "replaced a folder";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "File access denied");
  }
  EXPECT_TRUE(DirectoryExists(dir.Path("setstovi.cfg")));
  EXPECT_EQ(Names(FindEntries(dir.Folder(), "*.*", kAttrAnyFile)),
            std::vector<std::string>{"setstovi.cfg"});
  try {
    WriteFileAtomically(dir.Path("no-such-folder") + kSeparator + "setstovi.cfg", "x");
    FAIL() << "wrote into a missing folder";
  } catch (const EInOutError& e) {
    EXPECT_STREQ(e.what(), "Path not found");
  }
}

TEST(Files, RootsAndTheExecutableFolderAreBrowsableFolders) {
  const std::vector<std::string> roots = DriveRoots();
  ASSERT_FALSE(roots.empty());
  for (const std::string& root : roots) {
    EXPECT_EQ(root.back(), kSeparator) << root;
  }
  EXPECT_TRUE(DirectoryExists(roots.front())) << roots.front();
  const std::string exeDir = ExecutableDirectory();
  EXPECT_EQ(exeDir.back(), kSeparator);
  EXPECT_TRUE(DirectoryExists(exeDir)) << exeDir;
}

}  // namespace
}  // namespace tovi::fs

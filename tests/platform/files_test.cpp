#include "platform/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/files_parts.h"
#include "platform/errors.h"
#include "support/temp_dir.h"
#include "support/wait.h"

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

// Windows takes names in any letter case (Cyrillic too) for one; POSIX file systems do not.
TEST(Files, NamesTheFileSystemTakesForOneShareTheirKey) {
  TempDir dir;
  const std::pair<const char*, const char*> names[] = {
      {"Film.MKV", "film.mkv"}, {"Фильм.Рус.srt", "фИЛЬМ.рус.SRT"}, {"Ёлка", "ёлка"}, {"a", "b"}};
  for (const auto& [name, other] : names) {
    dir.Write(name, "x");
    EXPECT_EQ(FileExists(dir.Path(other)), NameKey(name) == NameKey(other)) << name;
    EXPECT_EQ(NameKey(name) == NameKey(other), kSeparator == '\\' && other[0] != 'b') << name;
  }
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

// A folder is read without a query per entry; links still count as what they lead to, and the
// read stops at the entries asked for.
TEST(Files, FindEntriesTakesLinksAsWhatTheyLeadToAndStopsAtItsBound) {
  if (kSeparator != '/') GTEST_SKIP() << "links are POSIX's";
  TempDir dir;
  dir.Write("film.avi", "1");
  std::filesystem::create_directory(dir.Path("films"));
  std::filesystem::create_directory_symlink(dir.Path("films"), dir.Path("to-folder"));
  std::filesystem::create_symlink(dir.Path("film.avi"), dir.Path("to-file"));
  std::filesystem::create_symlink(dir.Path("gone"), dir.Path("dangling"));
  std::vector<std::string> folders;
  for (const DirEntry& e : FindEntries(dir.Folder(), "*", kAttrAnyFile)) {
    if (e.IsDirectory() && e.name != "." && e.name != "..") folders.push_back(e.name);
  }
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(folders, (std::vector<std::string>{"films", "to-folder"}));
  EXPECT_EQ(FindEntries(dir.Folder(), "*", kAttrAnyFile, 3).size(), 3u);
}

// What is neither a file nor a folder (a link to nothing or to itself, a FIFO) cannot be served:
// it is a system entry, which a listing leaves out as Windows leaves out its own.
TEST(Files, EntriesThatAreNeitherFileNorFolderAreSystemEntries) {
  if (kSeparator != '/') GTEST_SKIP() << "links and FIFOs are POSIX's";
  TempDir dir;
  dir.Write("film.avi", "1");
  std::filesystem::create_symlink(dir.Path("film.avi"), dir.Path("to-file.avi"));
  std::filesystem::create_symlink(dir.Path("gone"), dir.Path("dangling.avi"));
  std::filesystem::create_symlink(dir.Path("loop.avi"), dir.Path("loop.avi"));
  ASSERT_EQ(std::system(("mkfifo '" + dir.Path("pipe.avi") + "'").c_str()), 0);
  std::vector<std::string> names =
      Names(FindEntries(dir.Folder(), "*.*", kAttrReadOnly | kAttrDirectory | kAttrArchive));
  names.erase(std::remove(names.begin(), names.end(), "."), names.end());
  names.erase(std::remove(names.begin(), names.end(), ".."), names.end());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"film.avi", "to-file.avi"}));
  EXPECT_EQ(FindEntries(dir.Folder(), "*.*", kAttrAnyFile).size(), 7u);
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
}

// A recording in progress: a file another program is writing is read as far as it has got, and
// the writer may open and go on writing while it is read.
TEST(Files, ReadOnlyFileReadsWhatAWriterIsStillWriting) {
  TempDir dir;
  const std::filesystem::path path(dir.Path("recording.ts"));
  std::ofstream recorder(path, std::ios::binary);
  recorder << "first" << std::flush;
  ReadOnlyFile file(path.string());
  recorder << "second" << std::flush;
  EXPECT_EQ(file.Size(), 11);
  std::ofstream(path, std::ios::binary | std::ios::app) << "third";
  char buffer[16];
  EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(file.ReadAt(0, buffer, sizeof buffer))),
            "firstsecondthird");
}

// Films pass 4 GiB: a size or an offset cut to 32 bits would serve the wrong bytes.
TEST(Files, SizesAndOffsetsPast4GiBAreWhole) {
  TempDir dir;
  const std::uint64_t k5GiB = 5ull << 30;
  const std::string path = dir.Write("film.mkv", "");
  std::filesystem::resize_file(std::filesystem::path(path), k5GiB);  // sparse: made at once
  std::ofstream(std::filesystem::path(path), std::ios::binary | std::ios::app) << "tail";
  ReadOnlyFile file(path);
  EXPECT_EQ(FileSize(path), static_cast<std::int64_t>(k5GiB + 4));
  EXPECT_EQ(file.Size(), static_cast<std::int64_t>(k5GiB + 4));
  const struct {
    std::uint64_t offset;
    std::string bytes;
  } cases[] = {
      {k5GiB, "tail"}, {k5GiB - 2, std::string("\0\0tail", 6)}, {k5GiB + 3, "l"},
      {k5GiB + 4, ""}, {k5GiB + (4ull << 30), ""},  // 9 GiB: cut to 32 bits it would be 1 GiB
  };
  for (const auto& c : cases) {
    char buffer[16];
    const long n = file.ReadAt(c.offset, buffer, sizeof buffer);
    ASSERT_GE(n, 0) << c.offset;
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), c.bytes) << c.offset;
  }
}

// What is not a readable file has no size and is refused with the text the program shows.
TEST(Files, MissingFilesAndFoldersAreRefusedAsFiles) {
  TempDir dir;
  std::filesystem::create_directory(dir.Path("folder.mkv"));
  const struct {
    std::string path;
    const char* text;
  } cases[] = {
      {dir.Path("missing.mkv"), "File not found"},
      {dir.Path("folder.mkv"), "File access denied"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FileSize(c.path), -1) << c.path;
    try {
      ReadOnlyFile file(c.path);
      ADD_FAILURE() << "opened " << c.path;
    } catch (const EInOutError& e) {
      EXPECT_STREQ(e.what(), c.text) << c.path;
    }
    EXPECT_THROW(ReadWholeFile(c.path), EInOutError) << c.path;
  }
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

// A reader holding the file: POSIX replaces it under the reader, who goes on reading the old
// bytes whole; Windows refuses the rename while the file is open, so the write waits its limit
// for the reader and then fails, leaving the old file and nothing beside it, or goes through
// once the reader lets go.
TEST(Files, AtomicWriteBesideAReaderLeavesEachTheOldOrTheNewWhole) {
  static std::atomic<int> renames;
  renames = 0;
  detail::writeStepObserver = [](const char* step) {
    if (std::string(step) == "rename") ++renames;
  };
  struct Unset { ~Unset() { detail::writeStepObserver = nullptr; } } unset;
  const bool replacedUnderReaders = kSeparator == '/';
  TempDir dir;
  const std::string path = dir.Write("setstovi.cfg", "old");
  auto reader = std::make_unique<ReadOnlyFile>(path);
  const auto start = std::chrono::steady_clock::now();
  try {
    WriteFileAtomically(path, "new", AtomicWriteLimits{300, 10, 100});
    EXPECT_TRUE(replacedUnderReaders) << "replaced a file a reader holds";
  } catch (const EInOutError& e) {
    EXPECT_FALSE(replacedUnderReaders) << e.what();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_GT(renames.load(), 1) << "gave up without waiting";
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  char held[8];
  EXPECT_EQ(std::string(held, static_cast<std::size_t>(reader->ReadAt(0, held, sizeof held))),
            "old");
  EXPECT_EQ(ReadWholeFile(path), replacedUnderReaders ? "new" : "old");
  EXPECT_EQ(Names(FindEntries(dir.Folder(), "*.*", kAttrAnyFile)),
            std::vector<std::string>{"setstovi.cfg"});

  // The reader lets go while the write waits for it.
  renames = 0;
  std::thread release([&] {
    ASSERT_TRUE(testing::WaitUntil([] { return renames > 0; }, 5000));
    reader.reset();
  });
  WriteFileAtomically(path, "newer", AtomicWriteLimits{10000, 10, 100});
  release.join();
  EXPECT_EQ(ReadWholeFile(path), "newer");
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

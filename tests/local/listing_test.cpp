#include "local/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace tovi::local {
namespace {

namespace stdfs = std::filesystem;

TEST(FolderListing, ListsVisibleEntriesWithFolderMarks) {
  const tovi::testing::TempDir dir;
  const stdfs::path& root = dir.Root();
  stdfs::create_directory(root / "B");
  stdfs::create_directory(root / "$RECYCLE.BIN");
  stdfs::create_directory(root / "Thumbs.db");
  dir.Write("z.mkv", "x");
  dir.Write("Thumbs.db2", "x");
  dir.Write("Am\xC3\xA9lie.mkv", "x");
  const bool posix = fs::kSeparator == '/';
  if (posix) {  // a leading dot is what hides a name here
    stdfs::create_directory(root / ".hidden");
    dir.Write(".hidden.mkv", "x");
  }
  std::vector<std::string> items = ListFolder(dir.Folder(), fs::kSeparator);
  std::sort(items.begin(), items.end());
  const std::string r = dir.Folder();
  EXPECT_EQ(items, (std::vector<std::string>{r + "Am\xC3\xA9lie.mkv", r + "B" + fs::kSeparator,
                                             r + "Thumbs.db2", r + "z.mkv"}));
  // Without the trailing separator the same folder is listed.
  std::string bare = r;
  bare.pop_back();
  EXPECT_EQ(ListFolder(bare, fs::kSeparator).size(), 4u);
  EXPECT_TRUE(ListFolder(r + "missing", fs::kSeparator).empty());
}

// A Browse or a resource request checks its path against the drives: a burst of them reads the
// list once, and a drive plugged in shows once the interval is over.
TEST(DriveList, ReadAtMostOncePerIntervalAndFollowsTheDrives) {
  std::vector<std::string> drives{"C:\\"};
  int reads = 0;
  DriveList::Clock::time_point now{};
  DriveList list([&] { ++reads; return drives; }, std::chrono::milliseconds(2000),
                 [&] { return now; });
  for (int i = 0; i < 100; ++i) EXPECT_EQ(list.Roots(), drives);
  EXPECT_EQ(reads, 1);
  drives.push_back("E:\\");
  now += std::chrono::milliseconds(1999);
  EXPECT_EQ(list.Roots().size(), 1u);
  now += std::chrono::milliseconds(1);
  EXPECT_EQ(list.Roots(), drives);
  EXPECT_EQ(reads, 2);
}

}  // namespace
}  // namespace tovi::local

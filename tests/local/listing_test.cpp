#include "local/listing.h"

#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace
}  // namespace tovi::local

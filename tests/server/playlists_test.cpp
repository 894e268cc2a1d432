#include "server/playlists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "server/texts.h"
#include "support/temp_dir.h"

namespace tovi::server {
namespace {

namespace stdfs = std::filesystem;

const std::string kDisk = "\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA ";  // "Диск "

TEST(Playlists, DrivesLinkToTheirRootFolders) {
  EXPECT_EQ(DrivePlaylist({"C:\\", "D:\\"}, "192.168.1.5"),
            "#EXTM3U\n\r"
            "#EXTINF:-1," + kDisk + "C:\n\rhttp://192.168.1.5:8027/treeview?C:\\\n\r"
            "#EXTINF:-1," + kDisk + "D:\n\rhttp://192.168.1.5:8027/treeview?D:\\\n\r");
  // "/" alone asks for the drive list, so the root folder goes as "//".
  EXPECT_EQ(DrivePlaylist({"/", "/media/me/USB 100%/"}, "10.0.0.2"),
            "#EXTM3U\n\r"
            "#EXTINF:-1," + kDisk + "/\n\rhttp://10.0.0.2:8027/treeview?//\n\r"
            "#EXTINF:-1," + kDisk + "/media/me/USB 100%\n\r"
            "http://10.0.0.2:8027/treeview?/media/me/USB 100%25/\n\r");
  EXPECT_EQ(DrivePlaylist({}, ""), "#EXTM3U\n\r");
}

TEST(Playlists, FoldersComeFirstThenFilesWithSizes) {
  const auto label = [](const std::string& item) { return "<" + item.substr(item.size() - 5) + ">"; };
  EXPECT_EQ(FolderPlaylist({"C:\\F\\B\\", "C:\\F\\z.mkv", "C:\\F\\A\\", "C:\\F\\a&b.mkv"},
                           "1.2.3.4", '\\', label),
            "#EXTM3U\n\r"
            "#EXTINF:-1,B\n\rhttp://1.2.3.4:8027/treeview?C:\\F\\B\\\n\r"
            "#EXTINF:-1,A\n\rhttp://1.2.3.4:8027/treeview?C:\\F\\A\\\n\r"
            "#EXTINF:-1,z.mkv <z.mkv>\n\rhttp://1.2.3.4:8027/C:\\F\\z.mkv\n\r"
            "#EXTINF:-1,a&b.mkv <b.mkv>\n\rhttp://1.2.3.4:8027/C:\\F\\a%26b.mkv\n\r");
  EXPECT_EQ(FolderPlaylist({"/m/a #1.avi", "/m/Sub+/"}, "1.2.3.4", '/', label),
            "#EXTM3U\n\r"
            "#EXTINF:-1,Sub+\n\rhttp://1.2.3.4:8027/treeview?/m/Sub%2B/\n\r"
            "#EXTINF:-1,a #1.avi <1.avi>\n\rhttp://1.2.3.4:8027/m/a %231.avi\n\r");
  EXPECT_EQ(FolderPlaylist({}, "1.2.3.4", '/', label), "#EXTM3U\n\r");
  // On POSIX a name may end with a backslash: still a file, played by its URL.
  EXPECT_EQ(FolderPlaylist({"/m/a.mkv\\"}, "1.2.3.4", '/', label),
            "#EXTM3U\n\r"
            "#EXTINF:-1,a.mkv\\ <.mkv\\>\n\rhttp://1.2.3.4:8027/m/a.mkv%5C\n\r");
}

TEST(Playlists, AFolderAbandonedMidwayAsksNoMoreSizes) {
  std::vector<std::string> items;
  for (int i = 0; i < 1000; ++i) items.push_back("/m/" + std::to_string(i) + ".mkv");
  int labels = 0;
  const auto label = [&labels](const std::string&) { return std::to_string(++labels); };
  FolderPlaylist(items, "1.2.3.4", '/', label, [&labels] { return labels >= 10; });
  EXPECT_EQ(labels, 10);
}

class FolderListing : public ::testing::Test {
 protected:
  void MakeFile(const std::string& name, std::size_t bytes) { dir_.Write(name, std::string(bytes, 'x')); }
  std::string Root() const { return dir_.Folder(); }
  tovi::testing::TempDir dir_;
  const stdfs::path& root_ = dir_.Root();
};

TEST_F(FolderListing, SizeLabelsReadTrueSizes) {
  MakeFile("small.bin", 500);
  MakeFile("three.bin", 3 * 1048576);
  const std::string r = Root();
  EXPECT_EQ(FileSizeText(r + "small.bin", "."), "0.49KB");
  EXPECT_EQ(FileSizeText(r + "three.bin", ","), "3MB");
  // Names in any script, whatever the system code page holds (on Windows: 1251, no "é").
  for (const char* name : {"\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC.bin", "Am\xC3\xA9lie.bin",
                           "\xE6\x98\xA0\xE7\x94\xBB \xF0\x9F\x8E\xAC.bin"}) {  // фильм, 映画 🎬
    MakeFile(name, 1536);
    EXPECT_EQ(FileSizeText(r + name, ","), "1,5KB") << name;
  }
  EXPECT_EQ(FileSizeText(r + "gone.bin", "."), "nf");
  // A read-only file still gets its size: nothing opens it for writing.
  stdfs::permissions(root_ / "small.bin", stdfs::perms::owner_read, stdfs::perm_options::replace);
  EXPECT_EQ(FileSizeText(r + "small.bin", "."), "0.49KB");
  stdfs::permissions(root_ / "small.bin", stdfs::perms::owner_all, stdfs::perm_options::replace);
}

}  // namespace
}  // namespace tovi::server

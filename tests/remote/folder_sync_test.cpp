#include "remote/folder_sync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "remote/service_hosts.h"
#include "support/temp_dir.h"

namespace tovi::remote {
namespace {

using Entries = std::vector<std::string>;

struct SelectionCase {
  const char* name;
  Entries entries;
  std::string text;
};

const SelectionCase kSelectionCases[] = {
    {"selected then not: the separator stays", {"d/a.avi", "d/b.txt"}, "d/a.avi;"},
    {"not then selected: no separator", {"d/b.txt", "d/a.avi"}, "d/a.avi"},
    {"every type", {"a.avi", "b.mkv", "c.mp4", "d.mov", "e.flv", "f.mpeg", "g.mp3"},
     "a.avi;b.mkv;c.mp4;d.mov;e.flv;f.mpeg;g.mp3"},
    {"case counts", {"MOVIE.AVI", "clip.Mp4", "x.MKV"}, ""},
    {"anywhere in the path", {"clip.mp4.txt", "old.avi/notes.doc"}, "clip.mp4.txt;old.avi/notes.doc"},
    {"a folder named like a video is sent with its contents",
     {"v/x.mkv/", "v/x.mkv/readme.txt", "v/other/"}, "v/x.mkv/;v/x.mkv/readme.txt;"},
    {"near misses", {"a.mpg", "b.mp", "c.avi_", "mp4", "d.wmv"}, "c.avi_;"},
    {"empty listing", {}, ""},
    {"a name that is not text is left out", {"a\xFF.avi", "b.avi"}, "b.avi"},
};

TEST(FolderSyncSelection, JoinsSelectedEntriesByTheListingsRule) {
  for (const SelectionCase& c : kSelectionCases) {
    SCOPED_TRACE(c.name);
    int pumps = 0;
    EXPECT_EQ(JoinSyncList(c.entries, [&] { ++pumps; }), c.text);
    EXPECT_EQ(pumps, static_cast<int>(c.entries.size()));  // the GUI breathes once per entry
  }
}

// Every folder entry is followed directly by everything beneath it.
void ExpectPreOrder(const Entries& list) {
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string& entry = list[i];
    if (entry.back() != fs::kSeparator) continue;
    std::size_t j = i + 1;
    while (j < list.size() && list[j].rfind(entry, 0) == 0) ++j;
    for (std::size_t k = j; k < list.size(); ++k) {
      EXPECT_NE(list[k].rfind(entry, 0), 0u) << list[k] << " is separated from " << entry;
    }
  }
}

TEST(ListFolderTree, ListsTheWholeTreeDepthFirstHiddenIncluded) {
  tovi::testing::TempDir tree;
  tree.Write("a.avi", "1");
  tree.Write(".hidden.mkv", "2");
  tree.Write("sub/b.txt", "3");
  tree.Write("sub/deeper/c.mp4", "4");
  tree.Write("sub/.cache/d", "5");
  tree.MakeFolder("empty");

  const std::string root = tree.Native() + fs::kSeparator;
  const std::string s(1, fs::kSeparator);
  const std::set<std::string> expected = {
      root + "a.avi",        root + ".hidden.mkv",
      root + "sub" + s,      root + "sub" + s + "b.txt",
      root + "sub" + s + "deeper" + s, root + "sub" + s + "deeper" + s + "c.mp4",
      root + "sub" + s + ".cache" + s, root + "sub" + s + ".cache" + s + "d",
      root + "empty" + s,
  };

  for (const std::string& folder : {tree.Native(), root}) {
    SCOPED_TRACE(folder);
    Entries list{"kept"};
    int pumps = 0;
    ListFolderTree(folder, "", list, [&] { ++pumps; });
    ASSERT_EQ(list.front(), "kept");  // appends, never clears
    list.erase(list.begin());
    EXPECT_EQ(std::set<std::string>(list.begin(), list.end()), expected);
    EXPECT_EQ(list.size(), expected.size());  // no duplicates, no "." or ".."
    EXPECT_GE(pumps, static_cast<int>(expected.size()));
    ExpectPreOrder(list);
  }
}

TEST(ListFolderTree, AMissingFolderAddsNothing) {
  tovi::testing::TempDir tree;
  Entries list;
  ListFolderTree(tree.Path("gone"), "", list);
  EXPECT_TRUE(list.empty());
}

TEST(ListFolderTree, EntersLinkedFoldersButNotLinksBackUpTheTree) {
  tovi::testing::TempDir tree, elsewhere;
  tree.Write("a.avi", "");
  tree.Write("sub/b.mp4", "");
  elsewhere.Write("c.mkv", "");
  std::error_code error;
  std::filesystem::create_directory_symlink(tree.Root(), tree.Root() / "loop", error);
  if (!error) std::filesystem::create_directory_symlink(tree.Root(), tree.Root() / "sub" / "up", error);
  if (!error) std::filesystem::create_directory_symlink(elsewhere.Root(), tree.Root() / "ext", error);
  if (error) GTEST_SKIP() << "this system does not let us make folder links: " << error.message();

  const std::string root = tree.Native() + fs::kSeparator;
  const std::string s(1, fs::kSeparator);
  Entries list;
  ListFolderTree(tree.Native(), "", list);
  EXPECT_EQ(std::set<std::string>(list.begin(), list.end()),
            (std::set<std::string>{root + "a.avi", root + "sub" + s, root + "sub" + s + "b.mp4",
                                   root + "sub" + s + "up" + s, root + "loop" + s,
                                   root + "ext" + s, root + "ext" + s + "c.mkv"}));
  EXPECT_EQ(list.size(), 7u);
  ExpectPreOrder(list);
}

// The main window as the sync sees it; every effect is logged in order.
struct SyncRig {
  SyncRig() {
    CurrentServiceHosts().listService = "list.test";
  }
  FolderSyncHost Host() {
    FolderSyncHost host;
    host.activeDevice = device;
    host.chooseFolder = [this](std::string* folder) {
      log.push_back("chooser");
      if (chosen.empty()) return false;
      *folder = chosen;
      return true;
    };
    host.pumpMessages = [this] { ++pumps; };
    host.storeFolder = [this](const std::string& folder) { log.push_back("store " + folder); };
    host.writeSettings = [this](const std::string& folder) {
      log.push_back("settings " + folder);
      if (settingsFail) throw EInOutError(5, "File access denied");
    };
    host.showSyncFolder = [this](const std::string& folder) { log.push_back("caption " + folder); };
    host.enableServerStart = [this] { log.push_back("timer"); };
    host.localAddress = [] { return std::string("192.168.1.5"); };
    host.showMessage = [this](const std::string& text) { log.push_back("message " + text); };
    host.transport.postText = [this](const std::string& url, const std::string& text) {
      log.push_back("post " + url);
      posted = text;
      if (postFail) throw std::runtime_error("HTTP/1.1 500 Internal Server Error");
      return std::string("ok");
    };
    return host;
  }

  std::string device = "tv1";
  std::string chosen;
  bool settingsFail = false;
  bool postFail = false;
  int pumps = 0;
  std::string posted;
  Entries log;
};

TEST(FolderSync, StoresListsRemembersThenPosts) {
  tovi::testing::TempDir tree;
  tree.Write("b.txt", "");
  tree.Write("a.avi", "");
  SyncRig rig;
  rig.chosen = tree.Native();
  SyncVideoFolder(rig.Host());

  const std::string url = "http://list.test/remote/index.php?do=dhcpfile&fdir=" + rig.chosen +
                          "&initial=tv1&localip=192.168.1.5:8027";
  EXPECT_EQ(rig.log, (Entries{"chooser", "store " + rig.chosen, "settings " + rig.chosen,
                              "caption " + rig.chosen, "timer",
                              "post " + url, "message ok"}));
  // Either listing order is the file system's; both rules are covered above.
  const std::string avi = rig.chosen + fs::kSeparator + "a.avi";
  EXPECT_TRUE(rig.posted == avi || rig.posted == avi + ";") << rig.posted;
  EXPECT_GE(rig.pumps, 4);  // two entries, listed and then filtered
}

TEST(FolderSync, SendsNamesInTheCodePageAndLeavesOutWhatItLacks) {
  tovi::testing::TempDir tree;
  const std::string film = "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC.avi";  // Фильм.avi
  tree.Write(film, "");
  tree.Write("Am\xC3\xA9lie.avi", "");
  SyncRig rig;
  rig.chosen = tree.Native();
  SyncVideoFolder(rig.Host());
  const std::string folder = rig.chosen + fs::kSeparator;
  std::set<std::string> sent;
  for (std::size_t start = 0; start < rig.posted.size();) {
    const std::size_t end = std::min(rig.posted.find(';', start), rig.posted.size());
    sent.insert(rig.posted.substr(start, end - start));
    start = end + 1;
  }
  // The Windows suites run with code page 1251, which has Cyrillic and lacks "é"; POSIX's is UTF-8.
  std::set<std::string> expected{text::Utf8ToAnsi(folder + film)};
  if (fs::kSeparator == '/') expected.insert(folder + "Am\xC3\xA9lie.avi");
  EXPECT_EQ(sent, expected) << rig.posted;
}

TEST(FolderSync, AnEmptyFolderIsStillSent) {
  tovi::testing::TempDir tree;
  SyncRig rig;
  rig.chosen = tree.Native();
  SyncVideoFolder(rig.Host());
  EXPECT_EQ(rig.posted, "");
  EXPECT_EQ(rig.log.back(), "message ok");
}

TEST(FolderSync, StopsEarlyWithoutDeviceOrFolder) {
  SyncRig noDevice;
  noDevice.device = "";
  noDevice.chosen = "never";
  SyncVideoFolder(noDevice.Host());
  EXPECT_EQ(noDevice.log, Entries{"message Нет активных устройств!"});

  SyncRig cancelled;
  SyncVideoFolder(cancelled.Host());
  EXPECT_EQ(cancelled.log, Entries{"chooser"});
}

TEST(FolderSync, FailuresStopWhereTheyHappen) {
  tovi::testing::TempDir tree;
  SyncRig unwritable;
  unwritable.chosen = tree.Native();
  unwritable.settingsFail = true;
  EXPECT_THROW(SyncVideoFolder(unwritable.Host()), EInOutError);
  // The folder stays remembered; caption, timer and request are skipped.
  EXPECT_EQ(unwritable.log, (Entries{"chooser", "store " + unwritable.chosen,
                                     "settings " + unwritable.chosen}));

  SyncRig refused;
  refused.chosen = tree.Native();
  refused.postFail = true;
  EXPECT_THROW(SyncVideoFolder(refused.Host()), std::runtime_error);
  ASSERT_EQ(refused.log.size(), 6u);  // everything up to the request, no message, no retry
  EXPECT_EQ(refused.log[4], "timer");
  EXPECT_EQ(refused.log[5].rfind("post ", 0), 0u);
}

}  // namespace
}  // namespace tovi::remote

#include "remote/playlist_upload.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "remote/service_hosts.h"
#include "support/temp_dir.h"

namespace tovi::remote {
namespace {

struct PackCase {
  const char* name;
  std::string file;
  std::string packed;
};

const PackCase kPackCases[] = {
    {"two lines, no final break", "A\nB", "Anxs10nxs13Bnxs10nxs13"},
    {"two lines, LF ends", "A\nB\n", "Anxs10nxs13Bnxs10nxs13"},
    {"two lines, CR LF ends", "A\r\nB\r\n", "Anxs10nxs13Bnxs10nxs13"},
    {"empty file", "", ""},
    {"one empty line", "\n", "nxs10nxs13"},
    {"empty line inside", "A\r\n\r\nB", "Anxs10nxs13nxs10nxs13Bnxs10nxs13"},
    {"lone CR is dropped, not a line end", "A\rB\n", "ABnxs10nxs13"},
    {"Ctrl-Z ends the file", std::string("A\nB\x1a" "C\n", 7), "Anxs10nxs13Bnxs10nxs13"},
    {"Ctrl-Z first", "\x1a" "A\n", ""},
    {"escapes and UTF-8 stay as they are", "#EXTINF:-1,Кино\nhttp://h/a%20b.mp4\n",
     "#EXTINF:-1,Киноnxs10nxs13http://h/a%20b.mp4nxs10nxs13"},
    {"NUL bytes are kept", std::string("a\0b\n", 4), std::string("a\0bnxs10nxs13", 13)},
};

TEST(PlaylistPacking, FollowsEveryLineWithTheSeparator) {
  for (const PackCase& c : kPackCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PackPlaylistLines(c.file), c.packed);
  }
}

TEST(PlaylistPacking, KeepsVeryLongLines) {
  const std::string line(100000, 'x');
  EXPECT_EQ(PackPlaylistLines(line + "\r\n" + line), line + "nxs10nxs13" + line + "nxs10nxs13");
}

// The main window as the upload sees it, with a fake site behind it.
struct UploadRig {
  UploadRig() { CurrentServiceHosts().mainSite = "site.test"; }
  PlaylistUploadHost Host() {
    PlaylistUploadHost host;
    host.activeDevice = device;
    host.choosePlaylist = [this](std::string* path) {
      ++dialogs;
      if (chosen.empty()) return false;
      *path = chosen;
      return true;
    };
    host.showMessage = [this](const std::string& text) { messages.push_back(text); };
    host.transport.postText = [this](const std::string& url, const std::string& text) {
      urls.push_back(url);
      texts.push_back(text);
      if (!failure.empty()) throw std::runtime_error(failure);
      return answer;
    };
    return host;
  }

  std::string device = "Samsung|42|Kitchen";
  std::string chosen;
  std::string answer = "Список загружен";
  std::string failure;
  int dialogs = 0;
  std::vector<std::string> messages, urls, texts;
};

TEST(PlaylistUpload, PostsThePackedFileForTheActiveDevice) {
  tovi::testing::TempDir folder;
  UploadRig rig;
  rig.chosen = folder.Write("my list.m3u", "#EXTM3U\r\nhttp://a/b.mp4");
  UploadPlaylist(rig.Host());
  ASSERT_EQ(rig.urls.size(), 1u);
  // The space would break the request line; the rest of the path goes as it is.
  const std::string folderPart = rig.chosen.substr(0, rig.chosen.size() - 11);
  EXPECT_EQ(rig.urls[0], "http://site.test/remote/index.php?do=uploadfile&fname=" + folderPart +
                             "my%20list.m3u&initial=Samsung|42|Kitchen");
  EXPECT_EQ(rig.texts[0], "#EXTM3Unxs10nxs13http://a/b.mp4nxs10nxs13");
  EXPECT_EQ(rig.messages, std::vector<std::string>{"Список загружен"});
}

TEST(PlaylistUpload, ShowsTheAnswerAsFarAsItDecodes) {
  tovi::testing::TempDir folder;
  // Answers a byte guess once garbled on a Russian Windows show as the service wrote them.
  const std::string video = "\xD0\x92\xD1\x96\xD0\xB4\xD0\xB5\xD0\xBE";  // Відео
  const std::string names =  // Пётр «ТВ№2» and a no-break space before a dash
      "\xD0\x9F\xD1\x91\xD1\x82\xD1\x80 \xC2\xAB\xD0\xA2\xD0\x92\xE2\x84\x96" "2\xC2\xBB\xC2\xA0\xE2\x80\x94";
  const std::pair<std::string, std::string> answers[] = {
      {"o\xffk", "ok"}, {video, video}, {names, names}};
  for (const auto& [answer, shown] : answers) {
    UploadRig rig;
    rig.chosen = folder.Write("a.m3u", "x\n");
    rig.answer = answer;
    UploadPlaylist(rig.Host());
    EXPECT_EQ(rig.messages, std::vector<std::string>{shown}) << answer;
  }
}

TEST(PlaylistUpload, StopsEarlyWithoutDeviceOrFile) {
  UploadRig noDevice;
  noDevice.device = "";
  noDevice.chosen = "never read";
  UploadPlaylist(noDevice.Host());
  EXPECT_EQ(noDevice.dialogs, 0);  // the dialog is not even shown
  EXPECT_EQ(noDevice.messages, std::vector<std::string>{"Нет активных устройств!"});
  EXPECT_TRUE(noDevice.urls.empty());

  UploadRig cancelled;
  UploadPlaylist(cancelled.Host());
  EXPECT_EQ(cancelled.dialogs, 1);
  EXPECT_TRUE(cancelled.messages.empty());
  EXPECT_TRUE(cancelled.urls.empty());
}

TEST(PlaylistUpload, LetsFailuresReachTheUser) {
  tovi::testing::TempDir folder;
  UploadRig unreadable;
  unreadable.chosen = folder.Path("missing.m3u");
  EXPECT_THROW(UploadPlaylist(unreadable.Host()), EInOutError);
  EXPECT_TRUE(unreadable.urls.empty());  // nothing is sent

  UploadRig refused;
  refused.chosen = folder.Write("a.m3u", "x\n");
  refused.failure = "HTTP/1.1 500 Internal Server Error";
  try {
    UploadPlaylist(refused.Host());
    ADD_FAILURE() << "the failure was swallowed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "HTTP/1.1 500 Internal Server Error");
  }
  EXPECT_EQ(refused.urls.size(), 1u);  // no retry
  EXPECT_TRUE(refused.messages.empty());
}

}  // namespace
}  // namespace tovi::remote

// The request handler behind a real server engine on a loopback port, with a fake main window.
#include "server/media_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/files.h"
#include "server/playlists.h"
#include "server/texts.h"
#include "support/fake_media_host.h"
#include "support/file_url.h"
#include "support/http_exchange.h"
#include "support/loopback_engine.h"
#include "support/page_server.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::server {
namespace {

// Short, so that an answer that finds no room says "err" quickly here.
constexpr int kAnswerRoomWaitMs = 2000;

namespace stdfs = std::filesystem;
using testing::FakeMediaHost;
using testing::FileUrlPath;
using testing::Get;
using testing::PageServer;
using testing::PercentEncoded;
using testing::Request;
using testing::WaitUntil;

const std::string kAddress = "192.0.2.7";  // what the fake window reports; never dialled

// An item as this platform's playlists put it in a URL.
std::string UrlItem(const std::string& item) { return EncodeUrlItem(item, fs::kSeparator); }

// Bytes that differ at every offset, so a shifted or short body cannot pass.
std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return s;
}

class MediaHandler : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = CreateMediaServer("127.0.0.1", 0,
                                [this](http::TNetPeerThread& t, http::TNetHTTPRequestInfo& rq,
                                       http::TNetHTTPResponseInfo& rs) { handler_.Handle(t.Connection(), rq, rs); });
    server_->SetActive(true);
    port_ = static_cast<std::uint16_t>(server_->Bindings()[0].Port());
  }
  void TearDown() override { server_->SetActive(false); }

  FakeMediaHost window_{kAddress};
  MediaRequestHandler handler_{window_, PlatformMediaOptions(), &window_};
  std::shared_ptr<http::TNetHTTPServer> server_;
  std::uint16_t port_ = 0;
  tovi::testing::TempDir dir_;
};

struct StreamCase {
  const char* method;
  const char* range;        // "" = no Range header
  int status;
  std::size_t first, length;  // the body, when status is 200 or 206
  const char* contentRange; // "" = none
};

TEST_F(MediaHandler, StreamsFilesWithRangesAsRfc7233Says) {
  const std::string bytes = Pattern(5000);
  const std::string url = FileUrlPath(dir_.Write("film.mkv", bytes));
  const StreamCase cases[] = {
      {"GET", "", 200, 0, 5000, ""},
      {"GET", "bytes=0-", 200, 0, 5000, ""},
      {"GET", "bytes=1000-", 206, 1000, 4000, "bytes 1000-4999/5000"},
      {"GET", "bytes=1000-1999", 206, 1000, 1000, "bytes 1000-1999/5000"},
      {"GET", "bytes=-500", 206, 4500, 500, "bytes 4500-4999/5000"},
      {"GET", "bytes=5-5", 206, 5, 1, "bytes 5-5/5000"},
      {"GET", "bytes=4999-", 206, 4999, 1, "bytes 4999-4999/5000"},
      {"GET", "bytes=1000-5000", 206, 1000, 4000, "bytes 1000-4999/5000"},
      {"GET", "bytes=1000-99999999999", 206, 1000, 4000, "bytes 1000-4999/5000"},
      {"GET", "bytes=-9000", 206, 0, 5000, "bytes 0-4999/5000"},
      {"GET", "bytes=2000-1000", 200, 0, 5000, ""},
      {"GET", "bytes=5000-", 416, 0, 0, "bytes */5000"},
      {"GET", "bytes=7000-8000", 416, 0, 0, "bytes */5000"},
      {"GET", "bytes=-0", 416, 0, 0, "bytes */5000"},
      // A list is answered with its first range the file can serve; another unit is ignored.
      {"GET", "bytes=5-10,20-30", 206, 5, 6, "bytes 5-10/5000"},
      {"GET", "bytes=7000-8000, -100", 206, 4900, 100, "bytes 4900-4999/5000"},
      {"GET", "bytes=7000-,9000-", 416, 0, 0, "bytes */5000"},
      {"GET", "items=0-5", 200, 0, 5000, ""},
      {"POST", "bytes=10-19", 206, 10, 10, "bytes 10-19/5000"},
      {"HEAD", "", 200, 0, 0, ""},
      {"HEAD", "bytes=100-199", 206, 0, 0, "bytes 100-199/5000"},
  };
  for (const StreamCase& c : cases) {
    const std::string what = std::string(c.method) + " " + c.range;
    std::string extra = *c.range ? std::string("Range: ") + c.range + "\r\n" : "";
    if (std::string(c.method) == "POST") extra += "Content-Length: 0\r\n";
    const auto r = Get(port_, url, extra, c.method);
    ASSERT_TRUE(r.connected) << what;
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_TRUE(r.closed) << what;
    EXPECT_EQ(r.Header("Content-Type"), "video/mp4") << what;
    EXPECT_EQ(r.Header("Accept-Ranges"), "bytes") << what;
    EXPECT_FALSE(r.Has("Access-Control-Allow-Origin")) << what;
    EXPECT_EQ(r.Header("Content-Range"), c.contentRange) << what;
    const bool head = std::string(c.method) == "HEAD";
    if (c.status == 416) {
      EXPECT_EQ(r.Header("Content-Length"), "0") << what;
      EXPECT_EQ(r.bodyBytes, 0u) << what;
    } else if (head) {
      EXPECT_EQ(r.bodyBytes, 0u) << what;
    } else {
      EXPECT_EQ(r.Header("Content-Length"), std::to_string(c.length)) << what;
      EXPECT_EQ(r.body, bytes.substr(c.first, c.length)) << what;
    }
  }
  // Each answer that sends bytes is one stream, reported begun and ended before the client sees
  // the end (the PC is kept awake in between); a HEAD or a 416 sends none.
  EXPECT_EQ(window_.streamsStarted, 15);
  EXPECT_EQ(window_.streamsEnded, 15);
  // HEAD answers with exactly the head a GET would have.
  const auto get = Get(port_, url, "Range: bytes=100-199\r\n");
  const auto head = Get(port_, url, "Range: bytes=100-199\r\n", "HEAD");
  EXPECT_EQ(get.head, head.head);
  EXPECT_EQ(get.head,
            "HTTP/1.1 206 Partial Content\r\nConnection: close\r\nContent-Type: video/mp4\r\n"
            "Content-Length: 100\r\nAccept-Ranges: bytes\r\nContent-Range: bytes 100-199/5000\r\n"
            "Server: NetHTTP/1.0\r\n\r\n");
  EXPECT_EQ(window_.RequestPath(), dir_.Path("film.mkv"));
}

TEST_F(MediaHandler, StreamsEmptyFilesAndNamesThatNeedDecoding) {
  auto r = Get(port_, FileUrlPath(dir_.Write("empty.bin", "")));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Length"), "0");
  EXPECT_EQ(r.bodyBytes, 0u);

  // Names in and out of the system code page (on Windows: 1251, which lacks "é").
  for (const std::string name : {"\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC \xE2\x84\x96" "1&2+3%.mkv",
                                 "Am\xC3\xA9lie.mkv", "\xE6\x98\xA0\xE7\x94\xBB.mkv"}) {  // фильм №1&2+3%, 映画
    const std::string local = dir_.Write(name, name);
    r = Get(port_, FileUrlPath(local));
    EXPECT_EQ(r.status, 200) << name;
    EXPECT_EQ(r.body, name);
    EXPECT_EQ(window_.RequestPath(), local);
  }
}

TEST_F(MediaHandler, ServesOffsetsPastFourGiB) {
  constexpr std::uint64_t kSize = 5ull << 30;
  const std::string path = dir_.Write("big.bin", "");
  stdfs::resize_file(path, kSize);
  const std::uint64_t at = (4ull << 30) + 12345;
  {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(at));
    f << "past four gigabytes";
    f.seekp(static_cast<std::streamoff>(kSize - 4));
    f << "tail";
  }
  const std::string url = FileUrlPath(path);
  auto r = Get(port_, url, "Range: bytes=" + std::to_string(at) + "-" + std::to_string(at + 18) + "\r\n");
  EXPECT_EQ(r.status, 206);
  EXPECT_EQ(r.body, "past four gigabytes");
  EXPECT_EQ(r.Header("Content-Range"), "bytes " + std::to_string(at) + "-" +
                                           std::to_string(at + 18) + "/" + std::to_string(kSize));
  r = Get(port_, url, "Range: bytes=-4\r\n");
  EXPECT_EQ(r.body, "tail");
  r = Get(port_, url, "", "HEAD");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(kSize));
}

TEST_F(MediaHandler, AnswersNotFoundForEverythingElse) {
  stdfs::create_directory(dir_.Path("folder"));
  struct Case { std::string target; std::string requestPath; };
  const std::string abc = fs::kSeparator == '\\' ? "abc" : "/abc";
  const Case cases[] = {
      {"/abc", "Not Found/" + abc},
      {FileUrlPath(dir_.Path("folder")), "Not Found/" + dir_.Path("folder")},
      {"/Test", "Not Found/" + std::string(fs::kSeparator == '\\' ? "Test" : "/Test")},
      {"/%FF%FE", "Not Found/"},
  };
  for (const Case& c : cases) {
    const auto r = Get(port_, c.target);
    EXPECT_EQ(r.status, 404) << c.target;
    EXPECT_EQ(r.body, "Not Found") << c.target;
    EXPECT_EQ(r.Header("Access-Control-Allow-Origin"), "*") << c.target;
    EXPECT_EQ(window_.RequestPath(), c.requestPath) << c.target;
  }
}

TEST_F(MediaHandler, RefusesRequestPathsWithNul) {
  // A NUL byte in the request line (percent-decoding drops "%00"): cut at it, each would name
  // something that is there, the file, the folder or the device.
  dir_.Write("a.mkv", "film");
  dir_.Write("sub/in.bin", "inside");
  const std::string nul(1, '\0'), sep(1, fs::kSeparator);
  const std::string sub = UrlItem(dir_.Path("sub"));
  struct Case { std::string target; int status; std::string body; };
  const Case cases[] = {
      {FileUrlPath(dir_.Path("a.mkv")) + nul + ".txt", 404, "Not Found"},
      {"/COM1" + nul, 404, "Not Found"},
      {"/C:/COM1" + nul + ".mkv", 404, "Not Found"},
      {"/COM1%00", 404, "Not Found"},
      {"/treeview?" + sub + nul + sep + ".." + sep, 200, "#EXTM3U\n\r"},
      {"/treeview?" + sub + sep + nul, 200, "#EXTM3U\n\r"},
      {"/treeview?COM1" + nul, 200, "#EXTM3U\n\r"},
      {"/treeview?COM1%00", 200, "#EXTM3U\n\r"},
      {"/treeview?" + sub + "%00" + sep + ".." + sep + "sub" + sep, 200,
       "#EXTM3U\n\r#EXTINF:-1,in.bin 0" + std::string(fs::kSeparator == '\\' ? "," : ".") +
           "01KB\n\r" + "http://" + kAddress + ":8027" + (fs::kSeparator == '\\' ? "/" : "") +
           sub + sep + ".." + sep + "sub" + sep + "in.bin\n\r"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (char ch : c.target) shown += ch == '\0' ? std::string("<NUL>") : std::string(1, ch);
    const auto r = Get(port_, c.target);
    EXPECT_EQ(r.status, c.status) << shown;
    EXPECT_EQ(r.body, c.body) << shown;
  }
}

TEST_F(MediaHandler, TestPageTakesAnnouncements) {
  const std::string ansiName =
      text::Utf8ToAnsi("\xD0\xA2\xD0\x92\xE2\x84\x96" "2|1|\xD0\x97\xD0\xB0\xD0\xBB");
  struct Case { std::string query; std::string device; std::string deviceCaption; int changes; };
  const Case steps[] = {
      {"", "", "Нет устройства", 0},
      {"?", "", "Нет устройства", 0},
      {"?name%7Ccode%7Croom", "name|code|room", "room (name)", 1},
      {"?name|code|room", "name|code|room", "room (name)", 1},  // the same one again
      {"?Model", "Model", " (Model)", 2},
      {"?a|b|c|d|e", "a|b|c|d|e", "c (a)", 3},
      {"?&x", "", " ()", 4},
      // A name in the system code page, shown as its characters: ТВ№2|1|Зал shows Зал (ТВ№2).
      {"?" + PercentEncoded(ansiName), ansiName,
       "\xD0\x97\xD0\xB0\xD0\xBB (\xD0\xA2\xD0\x92\xE2\x84\x96" "2)", 5},
      // A "name" of kilobytes is no TV's: the page, and nothing taken.
      {"?" + std::string(5000, 'n') + "|c|r", ansiName,
       "\xD0\x97\xD0\xB0\xD0\xBB (\xD0\xA2\xD0\x92\xE2\x84\x96" "2)", 5},
  };
  for (const Case& c : steps) {
    const auto r = Get(port_, "/test" + c.query);
    EXPECT_EQ(r.status, 200) << c.query;
    EXPECT_EQ(r.body, "<html><h1>ToviPlayer DLNA Work!</h1></html>") << c.query;
    EXPECT_EQ(r.Header("Content-Length"), "43") << c.query;
    EXPECT_EQ(r.Header("Content-Type"), "text/html") << c.query;
    EXPECT_EQ(r.Header("Access-Control-Allow-Origin"), "*") << c.query;
    EXPECT_EQ(window_.ActiveDevice(), c.device) << c.query;
    EXPECT_EQ(window_.DeviceCaption(), c.deviceCaption) << c.query;
    EXPECT_EQ(window_.Announcements(), c.changes) << c.query;
  }
}

TEST_F(MediaHandler, TreeviewListsDrives) {
  const auto r = Get(port_, "/treeview?/");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Type"), "text/html");
  EXPECT_EQ(r.Header("Access-Control-Allow-Origin"), "*");
  const std::string base = "http://" + kAddress + ":8027/treeview?";
  ASSERT_EQ(r.body.rfind("#EXTM3U\n\r", 0), 0u);
  const std::vector<std::string> roots = fs::DriveRoots();
  ASSERT_FALSE(roots.empty());
  std::size_t entries = 0;
  for (std::size_t at = r.body.find("#EXTINF"); at != std::string::npos; at = r.body.find("#EXTINF", at + 1)) {
    ++entries;
  }
  EXPECT_EQ(entries, roots.size());
  EXPECT_EQ(window_.AddressLookups(), 1);
  if (fs::kSeparator == '\\') {
    EXPECT_NE(r.body.find("#EXTINF:-1,\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA C:\n\r" + base + "C:\\\n\r"),
              std::string::npos) << r.body;
  } else {
    EXPECT_NE(r.body.find("#EXTINF:-1,\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA /\n\r" + base + "//\n\r"),
              std::string::npos) << r.body;
    // The root entry leads to the root folder, not back to the drive list.
    const auto root = Get(port_, "/treeview?//");
    EXPECT_EQ(root.status, 200);
    EXPECT_NE(root.body.find("#EXTINF:-1,tmp\n\r" + base + "/tmp/\n\r"), std::string::npos) << root.body;
  }
}

TEST_F(MediaHandler, TreeviewListsFoldersFirstWithSizes) {
  stdfs::create_directory(dir_.Path("B"));
  stdfs::create_directory(dir_.Path("A&b+c"));
  dir_.Write("z.mkv", std::string(3 * 1048576, 'z'));
  dir_.Write("a 100%.mkv", std::string(500, 'a'));
  if (fs::kSeparator == '/') {
    stdfs::create_directory(dir_.Path(".hidden"));
    dir_.Write(".hidden.mkv", "x");
  }
  // The file system's own order is what the playlist keeps, group by group.
  std::vector<std::string> folders, files;
  for (const auto& e : stdfs::directory_iterator(stdfs::u8path(dir_.Folder()))) {
    const std::u8string u8 = e.path().filename().u8string();
    const std::string name(u8.begin(), u8.end());
    if (name[0] == '.') continue;
    (e.is_directory() ? folders : files).push_back(name);
  }
  const std::string base = "http://" + kAddress + ":8027";
  const std::string folder = dir_.Folder();
  const std::string fileSlash = fs::kSeparator == '\\' ? "/" : "";
  // The Windows suites run in a Russian locale: its decimal separator is ",".
  const std::string decimal = fs::kSeparator == '\\' ? "," : ".";
  std::string expected = "#EXTM3U\n\r";
  for (const std::string& n : folders) {
    expected += "#EXTINF:-1," + n + "\n\r" + base + "/treeview?" + UrlItem(folder + n) +
                fs::kSeparator + "\n\r";
  }
  for (const std::string& n : files) {
    expected += "#EXTINF:-1," + n + (n == "z.mkv" ? " 3MB" : " 0" + decimal + "49KB") + "\n\r" + base +
                fileSlash + UrlItem(folder + n) + "\n\r";
  }
  auto r = Get(port_, "/treeview?" + UrlItem(folder));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, expected);
  EXPECT_EQ(window_.AddressLookups(), 1);

  // The URLs of the playlist open what they name, also with "&", "+" and "%" in the names.
  const std::string sub = folder + "A&b+c" + fs::kSeparator;
  r = Get(port_, "/treeview?" + UrlItem(sub));
  EXPECT_EQ(r.body, "#EXTM3U\n\r");
  dir_.Write("A&b+c" + std::string(1, fs::kSeparator) + "in.bin", "inside");
  r = Get(port_, "/treeview?" + UrlItem(sub));
  const std::string fileUrl = base + fileSlash + UrlItem(sub + "in.bin");
  EXPECT_EQ(r.body, "#EXTM3U\n\r#EXTINF:-1,in.bin 0" + decimal + "01KB\n\r" + fileUrl + "\n\r");
  r = Get(port_, fileUrl.substr(base.size()));
  EXPECT_EQ(r.body, "inside");
  r = Get(port_, (base + fileSlash + UrlItem(folder + "a 100%.mkv")).substr(base.size()));
  EXPECT_EQ(r.bodyBytes, 500u);

  r = Get(port_, "/treeview?" + UrlItem(folder + "missing"));
  EXPECT_EQ(r.body, "#EXTM3U\n\r");
  r = Get(port_, "/treeview");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "List index out of bounds (0)");
}

TEST_F(MediaHandler, TreeviewUrlsOpenPosixNamesOfAnyBytes) {
  if (fs::kSeparator != '/') GTEST_SKIP() << "Windows names hold none of these bytes";
  // A POSIX name is bytes: a folder whose name is not UTF-8 (copied from an old Windows disk),
  // files with a backslash and a line break in theirs. Every entry stays two lines, and every
  // URL opens what it names.
  const std::string folder = dir_.Folder() + "\xC7\xE0\xEB";  // "Зал" in Windows-1251
  stdfs::create_directory(folder);
  const std::string names[] = {"a\\b.mkv", "new\nline.mkv"};
  for (const std::string& n : names) std::ofstream(folder + "/" + n, std::ios::binary) << n;
  const std::string base = "http://" + kAddress + ":8027";
  const auto urls = [&](const std::string& playlist) {
    std::vector<std::string> paths;
    std::size_t line = 0;
    for (std::size_t at = 0, end; (end = playlist.find("\n\r", at)) != std::string::npos; at = end + 2) {
      const std::string text = playlist.substr(at, end - at);
      const bool url = line > 0 && line % 2 == 0;
      EXPECT_EQ(text.rfind(line == 0 ? "#EXTM3U" : url ? base : "#EXTINF:-1,", 0), 0u) << text;
      if (url) paths.push_back(text.substr(base.size()));
      ++line;
    }
    return paths;
  };
  const std::vector<std::string> inParent = urls(Get(port_, "/treeview?" + UrlItem(dir_.Folder())).body);
  ASSERT_EQ(inParent.size(), 1u);
  const std::vector<std::string> files = urls(Get(port_, inParent[0]).body);
  ASSERT_EQ(files.size(), 2u);
  std::vector<std::string> got;
  for (const std::string& path : files) got.push_back(Get(port_, path).body);
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, std::vector<std::string>(std::begin(names), std::end(names)));
}

// The handler with these options behind its own engine on a free loopback port. Its clients are
// all one peer (127.0.0.1), which may have all of the slots and the room here: the shares of
// several devices are the namespace test's (parserlink_share_netns_test.sh).
class HandlerServer {
 public:
  explicit HandlerServer(const PageFetchLimits& limits,
                         std::int64_t maxAnswerBytes = MediaHandlerOptions().maxAnswerBytesAtOnce)
      : handler_(window_, WithLimits(limits, maxAnswerBytes)),
        engine_([this](http::TNetPeerThread& t, http::TNetHTTPRequestInfo& rq,
                       http::TNetHTTPResponseInfo& rs) { handler_.Handle(t.Connection(), rq, rs); }) {}
  std::uint16_t Port() const { return engine_.Port(); }
  http::TNetHTTPServer& Engine() { return engine_.Engine(); }
  FakeMediaHost& Window() { return window_; }
  testing::WireResponse ParserLink(const std::string& query) {
    return Get(Port(), "/parserlink?" + query);
  }

 private:
  static MediaHandlerOptions WithLimits(const PageFetchLimits& limits, std::int64_t maxAnswerBytes) {
    MediaHandlerOptions options = PlatformMediaOptions();
    options.pageLimits = limits;
    options.pageLimits.maxPagesPerPeer = limits.maxPagesAtOnce;
    options.maxAnswerBytesAtOnce = maxAnswerBytes;
    options.maxAnswerBytesPerPeer = maxAnswerBytes;
    options.answerRoomWaitMs = kAnswerRoomWaitMs;
    return options;
  }
  FakeMediaHost window_{kAddress};
  MediaRequestHandler handler_;
  testing::LoopbackEngine engine_;
};

const std::string kNotFoundText = "\xD0\x9D\xD0\xB5 \xD0\xBD\xD0\xB0\xD0\xB9\xD0\xB4\xD0\xB5\xD0\xBD\xD0\xBE";

TEST_F(MediaHandler, ParserLinkCutsFetchedPages) {
  PageServer pages;
  const std::string page = PageServer::kPage;
  struct Case { std::string query; std::string body; bool notFound; };
  const Case cases[] = {
      {pages.Url("/page"), page, false},
      {pages.Url("/page") + "|<b>", page, false},
      {pages.Url("/page") + "|<b>|</b>", "first", false},
      {pages.Url("/page") + "|<b>|</b>|ignored", "first", false},
      {pages.Url("/page") + "||</b>", "<html><b>first", false},
      {pages.Url("/page") + "|</b> and <b>|<", "second", false},
      {pages.Url("/page") + "|<b>|</i>", "", true},
      {pages.Url("/page") + "|(|</b>", "err", false},
      {pages.Url("/aaa") + "|(aa?)*c|d", "err", false},
      {pages.Url("/missing"), "", false},
      {pages.Url("/missing") + "|<b>|</b>", "", true},
      {"http://127.0.0.1:1/page|<b>|</b>", "", true},
      {"|<b>|</b>", "", true},
      // A host that would break the request's lines is refused before anything is sent.
      {"http://127.0.0.1%0D%0AX-Injected:%201/page", "err", false},
      {"http://127.0.0.1%0D%0AX-Injected:%201/page|<b>|</b>", "err", false},
  };
  for (const Case& c : cases) {
    window_.ShowTrace("an earlier trace");
    std::string target = "/parserlink?";
    for (char ch : c.query) target += ch == '&' ? std::string("%26") : std::string(1, ch);
    const auto r = Get(port_, target);
    EXPECT_EQ(r.status, 200) << c.query;
    EXPECT_EQ(r.body, c.body) << c.query;
    EXPECT_EQ(r.Header("Access-Control-Allow-Origin"), "*") << c.query;
    EXPECT_EQ(window_.Trace(), c.notFound ? kNotFoundText : "an earlier trace") << c.query;
  }
  const auto r = Get(port_, "/parserlink");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "List index out of bounds (0)");
}

TEST(MediaHandlerLimits, PageFetchesAreBoundedInTimeAndSize) {
  PageServer pages;
  PageFetchLimits limits;
  limits.timeoutMs = 500;
  limits.totalTimeoutMs = 1200;
  limits.maxBodyBytes = 1 << 20;
  HandlerServer server(limits);

  auto started = std::chrono::steady_clock::now();
  auto r = server.ParserLink(pages.Url("/slow"));
  EXPECT_EQ(r.body, "0123456789");  // what arrived before the silence
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));

  // Never silent for long, but the whole fetch ends all the same; what came is the page.
  started = std::chrono::steady_clock::now();
  r = server.ParserLink(pages.Url("/trickle"));
  EXPECT_EQ(r.status, 200);
  EXPECT_GE(r.body.size(), 5u);
  EXPECT_EQ(r.body, std::string(r.body.size(), 't'));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));

  r = server.ParserLink(pages.Url("/endless"));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.bodyBytes, 1u << 20);
  EXPECT_EQ(r.body, std::string(1 << 20, 'e'));
  r = server.ParserLink(pages.Url("/endless") + "|e|x");
  EXPECT_EQ(r.body, "");
  EXPECT_EQ(server.Window().Trace(), kNotFoundText);
}

TEST(MediaHandlerLimits, AFurtherFetchWaitsForAFreeSlotThenAnswersErr) {
  PageServer pages;
  PageFetchLimits limits;
  limits.timeoutMs = 1500;
  limits.maxPagesAtOnce = 2;
  limits.slotWaitMs = 300;
  HandlerServer server(limits);
  auto first = std::async(std::launch::async, [&] { return server.ParserLink(pages.Url("/slow")); });
  auto second = std::async(std::launch::async, [&] { return server.ParserLink(pages.Url("/slow")); });
  ASSERT_TRUE(WaitUntil([&] { return pages.SlowRequests() == 2; }, 5000));

  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(server.ParserLink(pages.Url("/page")).body, "err");
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
  EXPECT_EQ(first.get().body, "0123456789");
  EXPECT_EQ(second.get().body, "0123456789");
  // Both slots are free again once those answers are out.
  EXPECT_EQ(server.ParserLink(pages.Url("/page") + "|<b>|</b>").body, "first");
}

TEST(MediaHandlerLimits, ReadersThatDoNotReadHoldNoSlotOnlyBoundedRoom) {
  PageServer pages;
  PageFetchLimits limits;  // a further request waits 10 s for a slot
  limits.maxPagesAtOnce = 2;
  limits.maxBodyBytes = 24 << 20;  // more than the loopback's socket buffers take in
  HandlerServer server(limits, (48 << 20) + 4096);  // two whole pages and a little
  // Two readers that take the first bytes of the whole page they asked for, and no more.
  std::vector<testing::RawClient> sleepers;
  for (int i = 0; i < 2; ++i) {
    sleepers.emplace_back(server.Port());
    ASSERT_TRUE(sleepers.back().Send(Request("GET", "/parserlink?" + pages.Url("/endless"))));
  }
  for (testing::RawClient& sleeper : sleepers) ASSERT_FALSE(sleeper.ReadCount(1, 20000).empty());

  // Their slots are free while their answers go out; the room of those answers stays full
  // for longer than a further whole page waits for it.
  EXPECT_EQ(server.ParserLink(pages.Url("/page") + "|<b>|</b>").body, "first");
  EXPECT_EQ(server.ParserLink(pages.Url("/endless")).body, "err");
  EXPECT_TRUE(WaitUntil([&] { return server.Engine().ConnectionCount() == 2; }, 5000));

  // Room given back while a page waits for it is its: readers that do read still get theirs.
  auto waiting = std::async(std::launch::async, [&] { return server.ParserLink(pages.Url("/endless")); });
  ASSERT_TRUE(WaitUntil([&] { return server.Engine().ConnectionCount() == 3; }, 5000));
  for (testing::RawClient& sleeper : sleepers) sleeper.Close();
  EXPECT_EQ(waiting.get().bodyBytes, 24u << 20);
}

TEST(MediaHandlerLimits, SwitchingOffEndsFetchesAndWaitsForSlotsAtOnce) {
  PageServer pages;
  PageFetchLimits limits;  // 30 s of silence would be allowed
  limits.maxPagesAtOnce = 1;
  HandlerServer server(limits);
  auto fetching = std::async(std::launch::async, [&] { return server.ParserLink(pages.Url("/slow")); });
  ASSERT_TRUE(WaitUntil([&] { return pages.SlowRequests() == 1; }, 5000));
  auto waiting = std::async(std::launch::async, [&] { return server.ParserLink(pages.Url("/page")); });
  ASSERT_TRUE(WaitUntil([&] { return server.Engine().ConnectionCount() == 2; }, 5000));

  const auto started = std::chrono::steady_clock::now();
  EXPECT_NO_THROW(server.Engine().SetActive(false));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  EXPECT_EQ(server.Engine().ConnectionCount(), 0u);
  fetching.get();
  waiting.get();
}

}  // namespace
}  // namespace tovi::server

// End to end (Linux build): the real program as a child process with --address 127.0.0.1,
// switched through its terminal front end or its settings file, answering on 127.0.0.1:8027.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "support/raw_client.h"
#include "platform/files.h"
#include "support/build.h"
#include "support/child_process.h"
#include "support/http_exchange.h"
#include "support/loopback.h"
#include "support/page_server.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::server {
namespace {

namespace stdfs = std::filesystem;
using testing::Get;
using testing::PageServer;
using testing::Request;
using testing::WaitUntil;
using testing::WireResponse;

constexpr std::uint16_t kPort = 8027;
const std::string kOn = "LocalRFS1: \xD0\x92\xD1\x8B\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87\xD0\xB8\xD1\x82\xD1\x8C Tovi DLNA";  // Выключить
const std::string kOff = "LocalRFS1: \xD0\x92\xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87\xD0\xB8\xD1\x82\xD1\x8C Tovi DLNA";      // Включить
const std::string kNotFoundMemo = "Memo1: \xD0\x9D\xD0\xB5 \xD0\xBD\xD0\xB0\xD0\xB9\xD0\xB4\xD0\xB5\xD0\xBD\xD0\xBE";

bool Answers() {
  const WireResponse r = Get(kPort, "/test", "", "GET", 2000);
  return r.status == 200;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    // Another run of the program may still hold the port for a moment; wait for it, bounded.
    ASSERT_TRUE(WaitUntil([] { return testing::PortHolder(kPort).Held(); }, 30000))
        << "127.0.0.1:8027 stays taken by another process";
  }

  void Start() {
    process_ = testing::StartProgram(testing::BuiltProgram(), home_.Native(), {"--address", "127.0.0.1"});
    ASSERT_TRUE(Saw("Type a number", 10000)) << process_->Output();
  }
  // Whether text comes in the output after byte offset from within timeoutMs.
  bool Saw(const std::string& text, int timeoutMs, std::size_t from = 0) {
    return process_->WaitForOutput(text, from, timeoutMs) != std::string::npos;
  }
  // Closes the input (the terminal's end of input) and waits for the program to end.
  bool EndsWithin(int timeoutMs) {
    process_->CloseInput();
    return process_->WaitExit(timeoutMs);
  }
  void TearDown() override {
    if (process_) process_->Stop();
  }

  // Sends a command and waits for text to follow in the output.
  bool Command(const std::string& command, const std::string& expect, int timeoutMs = 10000) {
    const std::size_t from = process_->OutputSize();
    process_->WriteLine(command);
    return Saw(expect, timeoutMs, from);
  }
  void SwitchOn() {
    ASSERT_TRUE(Command("LocalRFS1", kOn)) << process_->Output();
    ASSERT_TRUE(WaitUntil(Answers, 5000));
  }
  std::string Settings() { return fs::ReadWholeFile(home_.Path("setstovi.cfg")); }
  std::string WindowText() {
    const std::size_t from = process_->OutputSize();
    process_->WriteLine("window");
    Saw("Button2:", 5000, from);
    return process_->Output().substr(from);
  }

  // A connection that has asked for path and reads nothing yet (not open on failure).
  static std::unique_ptr<tovi::testing::RawClient> Player(const std::string& path) {
    auto player = std::make_unique<tovi::testing::RawClient>(kPort);
    if (!player->Send(Request("GET", path))) player->Close();
    return player;
  }

  testing::TempDir home_;   // the program's copy and its settings file
  testing::TempDir media_;  // what it serves
  std::unique_ptr<testing::ChildProcess> process_;
};

std::string Pattern(std::size_t size) {
  std::string s(size, '\0');
  for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
  return s;
}

// Spaces, control bytes and non-ASCII bytes percent-encoded, and the characters of also; the
// rest as it is.
std::string Encoded(const std::string& text, const std::string& also) {
  std::string out;
  for (const unsigned char c : text) {
    if (c <= ' ' || c >= 0x7F || also.find(static_cast<char>(c)) != std::string::npos) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A local path as a URL path or query item that decodes back to it.
std::string PercentEncoded(const std::string& path) { return Encoded(path, "%+#?&"); }

// The URL as a player sends it: the playlist's own escapes as listed, the rest encoded.
std::string AsAPlayerSendsIt(const std::string& url) { return Encoded(url, ""); }

TEST_F(Program, SwitchesFromTheTerminalAndRecordsEachSwitch) {
  Start();
  EXPECT_FALSE(Answers());
  SwitchOn();
  EXPECT_EQ(Settings(), "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n");
  ASSERT_TRUE(Command("Button2", kOff)) << process_->Output();
  EXPECT_FALSE(Answers());
  EXPECT_EQ(Settings(), "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n");
  ASSERT_TRUE(Command("Button2", kOn)) << process_->Output();
  EXPECT_TRUE(WaitUntil(Answers, 5000));
  EXPECT_EQ(Settings(), "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n");
}

TEST_F(Program, ASecondStartNamesTheFirstAndEndsWhileTheFirstServesAndACrashedFirstBlocksNothing) {
  Start();
  SwitchOn();
  // The same session (runtime folder) as the first; another address, which it never uses.
  testing::ChildOptions options;
  options.folder = home_.Native();
  options.environment = {"XDG_RUNTIME_DIR=" + home_.Native()};
  testing::ChildProcess second({home_.Path("remote-toviplayer"), "--address", "10.9.9.9"}, options);
  ASSERT_TRUE(second.WaitExit(10000)) << "the second start runs on: " << second.Output();
  EXPECT_EQ(second.ExitCode(), 0);
  EXPECT_EQ(second.Output(), "Remote Toviplayer \xD1\x83\xD0\xB6\xD0\xB5 \xD1\x80\xD0\xB0"
                             "\xD0\xB1\xD0\xBE\xD1\x82\xD0\xB0\xD0\xB5\xD1\x82. "
                             "\xD0\x90\xD0\xB4\xD1\x80\xD0\xB5\xD1\x81 \xD0\x9F\xD0\x9A: "
                             "127.0.0.1\n");  // уже работает. Адрес ПК:
  EXPECT_TRUE(process_->Running());
  EXPECT_TRUE(Answers()) << "the first copy stopped serving";

  process_->Signal(SIGKILL);  // as a crash ends it: nothing of its own runs
  ASSERT_TRUE(process_->WaitExit(10000));
  ASSERT_TRUE(WaitUntil([] { return testing::PortHolder(kPort).Held(); }, 30000));
  Start();  // the stored switch brings the server up again
  EXPECT_TRUE(WaitUntil(Answers, 10000)) << process_->Output();
}

TEST_F(Program, StartsTheServerFromTheSettingsFileAndLeavesItOnExit) {
  const std::string stored = "[Path]\r\n/srv/films\r\n[LFRS]\r\ntrue\r\n";
  home_.Write("setstovi.cfg", stored);
  const auto started = std::chrono::steady_clock::now();
  Start();
  ASSERT_TRUE(Saw(kOn, 10000)) << process_->Output();
  EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1400));
  EXPECT_TRUE(WaitUntil(Answers, 5000));
  // The switch rewrote the file with the stored folder; exit stops the server, file untouched.
  EXPECT_EQ(Settings(), stored);
  process_->WriteLine("N2");
  EXPECT_TRUE(EndsWithin(10000));
  EXPECT_FALSE(Answers());
  EXPECT_EQ(Settings(), stored);
}

TEST_F(Program, SwitchingOnWhileThePortIsTakenLeavesTheServerOff) {
  Start();
  {
    testing::PortHolder holder(kPort);
    ASSERT_TRUE(holder.Held());
    ASSERT_TRUE(Command("LocalRFS1", "Could not bind socket. Address and port are already in use."))
        << process_->Output();
    EXPECT_EQ(process_->Output().find(kOn), std::string::npos);
    EXPECT_EQ(Settings(), "[Path]\r\n\r\n[LFRS]\r\ntrue\r\n");
  }
  SwitchOn();  // the same switch works once the port is free
}

TEST_F(Program, ASettingsFileThatCannotBeWrittenLeavesTheServerAsItWas) {
  stdfs::create_directory(home_.Path("setstovi.cfg"));  // neither readable nor writable as a file
  Start();
  ASSERT_TRUE(Command("LocalRFS1", "[Remote Toviplayer]")) << process_->Output();
  WindowText();  // the click has been handled in full once the next command is
  EXPECT_EQ(process_->Output().find(kOn), std::string::npos);
  EXPECT_FALSE(Answers());
}

TEST_F(Program, StreamsFilesByteExactWithRanges) {
  const std::string bytes = Pattern(100000);
  const std::string film = media_.Write("film.mkv", bytes);
  Start();
  SwitchOn();
  struct Case { const char* range; int status; std::size_t first, length; const char* contentRange; };
  const Case cases[] = {
      {"", 200, 0, 100000, ""},
      {"bytes=0-", 200, 0, 100000, ""},
      {"bytes=1000-1999", 206, 1000, 1000, "bytes 1000-1999/100000"},
      {"bytes=99000-", 206, 99000, 1000, "bytes 99000-99999/100000"},
      {"bytes=-500", 206, 99500, 500, "bytes 99500-99999/100000"},
      {"bytes=50000-200000", 206, 50000, 50000, "bytes 50000-99999/100000"},
      {"bytes=2000-1000", 200, 0, 100000, ""},
      {"bytes=100000-", 416, 0, 0, "bytes */100000"},
  };
  for (const Case& c : cases) {
    const auto r = Get(kPort, film, *c.range ? std::string("Range: ") + c.range + "\r\n" : "");
    EXPECT_EQ(r.status, c.status) << c.range;
    EXPECT_EQ(r.Header("Content-Range"), c.contentRange) << c.range;
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(c.length)) << c.range;
    EXPECT_EQ(r.Header("Content-Type"), "video/mp4") << c.range;
    EXPECT_EQ(r.Header("Accept-Ranges"), "bytes") << c.range;
    EXPECT_FALSE(r.Has("Access-Control-Allow-Origin")) << c.range;
    EXPECT_TRUE(r.closed) << c.range;
    EXPECT_EQ(r.body, bytes.substr(c.first, c.length)) << c.range;
  }
  const auto head = Get(kPort, film, "", "HEAD");
  EXPECT_EQ(head.head,
            "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: video/mp4\r\n"
            "Content-Length: 100000\r\nAccept-Ranges: bytes\r\nServer: NetHTTP/1.0\r\n\r\n");
  EXPECT_EQ(head.bodyBytes, 0u);

  // A Cyrillic name, sent as percent-encoded UTF-8.
  const std::string cyrillic = media_.Write("\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC 1.avi", "kino");
  const auto r = Get(kPort, PercentEncoded(cyrillic));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "kino");
  EXPECT_NE(WindowText().find("Label2: " + cyrillic), std::string::npos);
}

TEST_F(Program, StreamsAFileLargerThanFourGiB) {
  constexpr std::uint64_t kSize = (5ull << 30) + 7;
  const std::string big = media_.Write("big.bin", "");
  stdfs::resize_file(big, kSize);  // sparse: zeros but for the marks
  const std::uint64_t mark = (4ull << 30) + 4096 + 3;
  {
    std::fstream f(big, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(mark));
    f << "mark past 4 GiB";
    f.seekp(static_cast<std::streamoff>(kSize - 5));
    f << "tail!";
  }
  Start();
  SwitchOn();
  auto r = Get(kPort, big, "Range: bytes=" + std::to_string(mark) + "-" + std::to_string(mark + 14) + "\r\n");
  EXPECT_EQ(r.status, 206);
  EXPECT_EQ(r.body, "mark past 4 GiB");
  EXPECT_EQ(r.Header("Content-Range"),
            "bytes " + std::to_string(mark) + "-" + std::to_string(mark + 14) + "/" + std::to_string(kSize));
  r = Get(kPort, big, "Range: bytes=" + std::to_string(mark - 3) + "-\r\n", "GET", 120000, 32);
  EXPECT_EQ(r.status, 206);
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(kSize - mark + 3));
  EXPECT_EQ(r.body.substr(3, 15), "mark past 4 GiB");
  EXPECT_EQ(r.bodyBytes, kSize - mark + 3);
  r = Get(kPort, big, "Range: bytes=-5\r\n");
  EXPECT_EQ(r.body, "tail!");
  if (testing::kSanitized) return;  // 5 GiB through a sanitizer take minutes and show nothing new
  r = Get(kPort, big, "", "GET", 120000, 0);  // the whole file
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.Header("Content-Length"), std::to_string(kSize));
  EXPECT_EQ(r.bodyBytes, kSize);
}

TEST_F(Program, ServesDriveAndFolderPlaylists) {
  stdfs::create_directory(media_.Path("Season 1"));
  stdfs::create_directory(media_.Path("\xD0\x9C\xD1\x83\xD0\xBB\xD1\x8C\xD1\x82\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B"));  // Мультфильмы
  stdfs::create_directory(media_.Path(".cache"));
  media_.Write("a&b 100%.mkv", std::string(1536, 'x'));
  media_.Write("big.mkv", std::string(3 * 1048576, 'y'));
  media_.Write(".hidden.mkv", "h");
  std::vector<std::string> folders, files;
  for (const auto& e : stdfs::directory_iterator(media_.Folder())) {
    const std::string name = e.path().filename().string();
    if (name[0] != '.') (e.is_directory() ? folders : files).push_back(name);
  }
  const std::string base = "http://127.0.0.1:8027";
  std::string expected = "#EXTM3U\n\r";
  for (const std::string& n : folders) {
    expected += "#EXTINF:-1," + n + "\n\r" + base + "/treeview?" + media_.Folder() + n + "/\n\r";
  }
  for (const std::string& n : files) {
    const std::string url = n == "big.mkv" ? "big.mkv" : "a%26b 100%25.mkv";
    expected += "#EXTINF:-1," + n + (n == "big.mkv" ? " 3MB" : " 1.5KB") + "\n\r" + base +
                media_.Folder() + url + "\n\r";
  }
  Start();
  SwitchOn();
  auto r = Get(kPort, "/treeview?" + PercentEncoded(media_.Folder()));
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, expected);
  EXPECT_EQ(r.Header("Access-Control-Allow-Origin"), "*");

  // Following the playlist's own URLs: a file with "&" and "%" streams.
  r = Get(kPort, media_.Folder() + "a%26b 100%25.mkv");
  EXPECT_EQ(r.bodyBytes, 1536u);

  r = Get(kPort, "/treeview?/");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body.rfind("#EXTM3U\n\r#EXTINF:-1,\xD0\x94\xD0\xB8\xD1\x81\xD0\xBA /\n\r" + base +
                             "/treeview?//\n\r", 0), 0u) << r.body;
  for (const char* system : {"/proc", "/sys", "/dev", "/run"}) {
    EXPECT_EQ(r.body.find(std::string("?") + system + "/\n"), std::string::npos) << system;
  }
  r = Get(kPort, "/treeview?//");
  EXPECT_NE(r.body.find("#EXTINF:-1,tmp\n\r" + base + "/treeview?/tmp/\n\r"), std::string::npos);
  r = Get(kPort, "/treeview");
  EXPECT_EQ(r.status, 500);
  EXPECT_EQ(r.body, "List index out of bounds (0)");
}

TEST_F(Program, TakesAnnouncementsAndAnswersNotFound) {
  Start();
  SwitchOn();
  auto r = Get(kPort, "/test?LG%20OLED|42|%D0%97%D0%B0%D0%BB");
  EXPECT_EQ(r.body, "<html><h1>ToviPlayer DLNA Work!</h1></html>");
  EXPECT_TRUE(Saw("N3: \xD0\x97\xD0\xB0\xD0\xBB (LG OLED)\n", 5000)) << process_->Output();
  r = Get(kPort, "/test");
  EXPECT_EQ(r.status, 200);
  std::size_t from = process_->OutputSize();
  r = Get(kPort, "/test?Model");
  EXPECT_TRUE(Saw("N3:  (Model)\n", 5000, from));

  r = Get(kPort, "/no/such/thing");
  EXPECT_EQ(r.status, 404);
  EXPECT_EQ(r.body, "Not Found");
  EXPECT_EQ(r.Header("Access-Control-Allow-Origin"), "*");
  EXPECT_NE(WindowText().find("Label2: Not Found//no/such/thing\n"), std::string::npos);
  r = Get(kPort, media_.Folder());  // a folder is not a file
  EXPECT_EQ(r.status, 404);

  // A hostile announcement and path are printed with their control bytes as escapes: the
  // screen is not cleared, the title not set, no line forged.
  from = process_->OutputSize();
  Get(kPort, "/test?%1B%5B2J%1B%5D0%3Bowned%07|x|room%0Afake");
  EXPECT_TRUE(Saw("N3: room\\x0Afake (\\x1B[2J\\x1B]0;owned\\x07)\n", 5000, from))
      << process_->Output();
  Get(kPort, "/%1B%5B31mred%C2%9B");
  EXPECT_NE(WindowText().find("Label2: Not Found//\\x1B[31mred\\xC2\\x9B\n"), std::string::npos)
      << process_->Output();
  EXPECT_EQ(process_->Output().find('\x1B'), std::string::npos);
}

TEST_F(Program, ParserLinkCutsPagesFetchedOnLoopback) {
  PageServer pages;
  Start();
  SwitchOn();
  const std::string page = pages.Url("/page");
  EXPECT_EQ(Get(kPort, "/parserlink?" + page + "|<b>|</b>").body, "first");
  EXPECT_EQ(Get(kPort, "/parserlink?" + page + "|<b>").body, PageServer::kPage);
  EXPECT_EQ(WindowText().find(kNotFoundMemo), std::string::npos);
  auto r = Get(kPort, "/parserlink?" + page + "|<i>|</i>");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "");
  EXPECT_NE(WindowText().find(kNotFoundMemo), std::string::npos);
  EXPECT_EQ(Get(kPort, "/parserlink?" + page + "|(|</b>").body, "err");
  EXPECT_EQ(Get(kPort, "/parserlink?" + pages.Url("/aaa") + "|(aa?)*c|d").body, "err");
  // An endless page is cut off at 32 MiB, which is answered whole.
  r = Get(kPort, "/parserlink?" + pages.Url("/endless"), "", "GET", 120000, 0);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.bodyBytes, 32u << 20);
}

TEST_F(Program, ParserLinkCannotSmuggleASecondRequestToThePage) {
  // The page's server records what it is sent, answers once and closes.
  testing::ScriptedServer page([](testing::ScriptPeer& peer) {
    peer.ReadHead();
    peer.Record();
    peer.Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\npage");
    peer.WaitForClose(10000);
  });
  Start();
  SwitchOn();
  const std::string smuggled =
      "/a%20HTTP/1.1%0D%0AHost:%20x%0D%0A%0D%0APOST%20/admin%20HTTP/1.1%0D%0A"
      "Content-Length:%205%0D%0A%0D%0Ahello";
  const WireResponse r = Get(kPort, "/parserlink?http://" + page.HostAndPort() + smuggled);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "page");

  // One connection, one head, ending where the bytes end: the request line keeps the URL's
  // line breaks encoded, and nothing follows the blank line.
  const std::vector<std::string> received = page.Received();
  ASSERT_EQ(received.size(), 1u);
  const std::string& head = received[0];
  EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET " + smuggled + " HTTP/1.1");
  EXPECT_EQ(head.find("\r\n\r\n"), head.size() - 4) << head;
  EXPECT_EQ(head.find("\r\nPOST"), std::string::npos) << head;
  EXPECT_NE(head.find("\r\nHost: " + page.HostAndPort() + "\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.find("Host: x"), std::string::npos) << head;
  EXPECT_EQ(page.Connections(), 1);
}

// The process's peak resident memory (VmHWM), in bytes; 0 when unknown.
std::uint64_t PeakMemoryBytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

TEST_F(Program, ParserLinkKeepsFewPagesInMemoryWhateverComesAtOnce) {
  PageServer pages;
  Start();
  SwitchOn();
  // Eight endless pages at once: four are held (fetched, then answered), the others wait.
  std::vector<std::future<WireResponse>> answers;
  for (int i = 0; i < 8; ++i) {
    answers.push_back(std::async(std::launch::async, [&] {
      return Get(kPort, "/parserlink?" + pages.Url("/endless"), "", "GET", 120000, 0);
    }));
  }
  for (auto& answer : answers) {
    const WireResponse r = answer.get();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.bodyBytes, 32u << 20);
  }
  const std::uint64_t peak = PeakMemoryBytes(process_->Pid());
  std::printf("peak resident memory with 8 endless pages asked at once: %llu MiB\n",
              static_cast<unsigned long long>(peak >> 20));
  EXPECT_GT(peak, 0u);
  if (!testing::kSanitized) {  // no memory bound holds under them
    EXPECT_LT(peak, 300u << 20);
  }
}

// One connection in a state the switch-off must end, set up against the running program.
struct BusyConnection {
  virtual ~BusyConnection() = default;
};

// A player that asked for a file and stopped reading: its stream waits on the socket.
class StoppedReader : public BusyConnection {
 public:
  explicit StoppedReader(std::unique_ptr<tovi::testing::RawClient> player)
      : player_(std::move(player)), started_(!player_->ReadCount(1).empty()) {}
  bool Started() const { return started_; }  // the stream has begun

 private:
  std::unique_ptr<tovi::testing::RawClient> player_;
  bool started_;
};

// A client sending a request body a byte every 200 ms, until it fails or is destroyed.
class TricklingBody : public BusyConnection {
 public:
  TricklingBody() : client_(kPort) {
    if (!client_.Send("POST /test HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n")) return;
    thread_ = std::thread([this] {
      for (int i = 0; i < 600 && !stop_; ++i) {
        if (!client_.Send("b")) return;
        ++sent_;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
      }
    });
  }
  ~TricklingBody() override {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  int Sent() const { return sent_; }

 private:
  tovi::testing::RawClient client_;
  std::atomic<bool> stop_{false};
  std::atomic<int> sent_{0};
  std::thread thread_;
};

TEST_F(Program, SwitchOffAndExitFinishWhateverTheConnectionsDo) {
  PageServer pages;
  const std::string big = media_.Write("long.bin", "");
  stdfs::resize_file(big, 1ull << 30);
  struct Case {
    const char* what;
    std::function<std::unique_ptr<BusyConnection>()> begin;
  };
  std::vector<std::future<WireResponse>> fetches;
  const Case cases[] = {
      {"a reader that stopped reading a 1 GiB stream",
       [&]() -> std::unique_ptr<BusyConnection> {
         auto reader = std::make_unique<StoppedReader>(Player(big));
         EXPECT_TRUE(reader->Started());
         return reader;
       }},
      {"a trickling \"/parserlink\" fetch",
       [&]() -> std::unique_ptr<BusyConnection> {
         const int before = pages.SlowRequests();
         fetches.push_back(std::async(std::launch::async, [&] {
           return Get(kPort, "/parserlink?" + pages.Url("/trickle"));
         }));
         EXPECT_TRUE(WaitUntil([&] { return pages.SlowRequests() == before + 1; }, 5000));
         return nullptr;
       }},
      {"a trickling request body",
       [&]() -> std::unique_ptr<BusyConnection> {
         auto body = std::make_unique<TricklingBody>();
         EXPECT_TRUE(WaitUntil([&] { return body->Sent() >= 3; }, 5000));
         return body;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    home_.Write("setstovi.cfg", "[Path]\r\n\r\n[LFRS]\r\nfalse\r\n");  // no start of its own
    Start();
    SwitchOn();
    auto busy = c.begin();
    auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(Command("Button2", kOff, 10000)) << process_->Output();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
    EXPECT_EQ(process_->Output().find("Terminate Thread Timeout"), std::string::npos);
    SwitchOn();  // at once, on the same port

    busy = c.begin();
    started = std::chrono::steady_clock::now();
    process_->WriteLine("N2");
    EXPECT_TRUE(EndsWithin(10000)) << process_->Output();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    process_->Stop();
  }
  for (auto& fetch : fetches) fetch.get();
}

std::string RunCapture(const std::string& command) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  pclose(p);
  return out;
}

TEST_F(Program, FfmpegPlaysAndSeeksWhatItServes) {
  ASSERT_NO_THROW(testing::Tool({"/usr/bin/ffmpeg"}));  // scripts/setup.sh installs it
  const std::string video = media_.Path("test video.mp4");
  // The index sits at the end of the file (no faststart), so the player must seek by range.
  ASSERT_EQ(std::system(("timeout 120 ffmpeg -v error -y -f lavfi -i testsrc=duration=10:size=320x240:rate=25 "
                         "-c:v mpeg4 -f mp4 '" + video + "'").c_str()), 0);
  Start();
  SwitchOn();
  const std::string url = "http://127.0.0.1:8027" + PercentEncoded(video);
  const std::string frame = " -frames:v 1 -f framemd5 - 2>/dev/null";
  const std::string local = RunCapture("timeout 120 ffmpeg -v error -ss 5 -i '" + video + "'" + frame);
  const std::string served = RunCapture("timeout 120 ffmpeg -v error -ss 5 -i '" + url + "'" + frame);
  ASSERT_NE(local.find("0,"), std::string::npos) << local;
  EXPECT_EQ(served, local);
  // The frame decoded over HTTP is the one at 5 s, not the first one.
  const std::string first = RunCapture("timeout 120 ffmpeg -v error -i '" + video + "'" + frame);
  EXPECT_NE(served, first);
}

// The MD5 of every 1024-byte packet ffprobe reads from source, a file or a URL.
std::string ProbedHashes(const std::string& source) {
  return RunCapture("timeout 60 ffprobe -v error -f data -i '" + source +
                    "' -show_entries packet=data_hash -show_data_hash MD5 -of csv=p=0 2>&1");
}

TEST_F(Program, EveryPlaylistEntryPlaysByItsUrlAsListedAndAsPlayersSendIt) {
  for (const char* tool : {"/usr/bin/curl", "/usr/bin/ffprobe"}) ASSERT_NO_THROW(testing::Tool({tool}));
  // Names as downloads have them: "=", spaces, "&", "#", "%", "+", "?" and Cyrillic.
  const std::vector<std::string> names = {
      "a=b c.mkv", "x=1&2.mkv", "#1 100%+50.mkv", "q?x=y.mkv",
      "\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC=2 \xE2\x84\x96" "5.mkv",  // Фильм=2 №5
      "sub=dir/film 1.mkv"};
  stdfs::create_directory(media_.Path("sub=dir"));
  std::map<std::string, std::string> files;  // local path -> bytes
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string bytes = Pattern(3000 + 7 * i).substr(i);
    files[media_.Write(names[i], bytes)] = bytes;
  }
  Start();
  SwitchOn();
  const std::string base = "http://127.0.0.1:8027";
  std::vector<std::string> urls;
  for (const std::string& folder : {media_.Folder(), media_.Folder() + "sub=dir/"}) {
    const auto playlist = Get(kPort, "/treeview?" + PercentEncoded(folder));
    for (std::size_t at = playlist.body.find(base); at != std::string::npos;
         at = playlist.body.find(base, at + 1)) {
      const std::string url = playlist.body.substr(at, playlist.body.find('\n', at) - at);
      if (url.find("/treeview?") == std::string::npos) urls.push_back(url);
    }
  }
  ASSERT_EQ(urls.size(), names.size());
  std::size_t matched = 0;
  for (const std::string& url : urls) {
    SCOPED_TRACE(url);
    // Which file the entry names: the one whose bytes the server sends as listed.
    const auto listed = Get(kPort, url.substr(base.size()));
    EXPECT_EQ(listed.status, 200);
    const auto file = std::find_if(files.begin(), files.end(),
                                   [&](const auto& f) { return f.second == listed.body; });
    ASSERT_NE(file, files.end());
    ++matched;
    const std::string curled = RunCapture("timeout 60 curl -s --globoff '" + AsAPlayerSendsIt(url) + "'");
    EXPECT_EQ(curled, file->second);
    const std::string probed = ProbedHashes(url);
    EXPECT_NE(probed.find("MD5:"), std::string::npos) << probed;
    EXPECT_EQ(probed, ProbedHashes(file->first));
  }
  EXPECT_EQ(matched, files.size());
}

TEST_F(Program, AFileCutWhileItStreamsEndsShortWithNoErrorText) {
  const std::string bytes = Pattern(32u << 20);
  const std::string film = media_.Write("cut.mkv", bytes);
  Start();
  SwitchOn();
  // A player that takes the head, then nothing until the file has been cut short.
  const auto player = Player(film);
  ASSERT_TRUE(player->IsOpen());
  std::string received;
  for (int i = 0; i < 1000 && received.find("\r\n\r\n") == std::string::npos; ++i) {
    const std::string some = player->ReadCount(1);
    if (some.empty()) break;
    received += some;
  }
  const std::size_t headEnd = received.find("\r\n\r\n");
  ASSERT_NE(headEnd, std::string::npos) << received;
  EXPECT_NE(received.find("Content-Length: " + std::to_string(bytes.size()) + "\r\n"),
            std::string::npos);
  stdfs::resize_file(film, 1u << 20);
  received += player->ReadAll(10000);
  const std::string body = received.substr(headEnd + 4);
  EXPECT_LT(body.size(), bytes.size());
  // The bytes before the cut are the file's own. What the system had queued beyond it is what
  // its page cache then held (zeros here), but nothing of ours follows: no error text.
  const std::size_t kept = std::min<std::size_t>(body.size(), 1u << 20);
  EXPECT_TRUE(body.compare(0, kept, bytes, 0, kept) == 0);
  for (const char* text : {"No data to read.", "Socket Error", "Operation aborted"}) {
    EXPECT_EQ(body.find(text), std::string::npos) << text;
  }
}

}  // namespace
}  // namespace tovi::server

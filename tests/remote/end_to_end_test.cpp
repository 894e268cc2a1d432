// The real program (Linux build, terminal front end) against stand-ins for the list service on
// loopback: what it sends at start, on its timer, and through the upload and sync dialogs.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http/client/browser_identity.h"
#include "http/client/http_client.h"
#include "support/raw_client.h"
#include "platform/files.h"
#include "remote/list_service_fixture.h"
#include "remote/service.h"
#include "support/build.h"
#include "support/child_process.h"
#include "support/loopback.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::remote {
namespace {

namespace stdfs = std::filesystem;
using testing::Front;
using testing::ListServiceFixture;
using testing::RecordedRequest;
using tovi::testing::Accepts;
using tovi::testing::ChildProcess;
using tovi::testing::RecordAndAnswer;
using tovi::testing::ScriptedServer;
using tovi::testing::TempDir;
using tovi::testing::WaitUntil;

constexpr const char* kBox = "[Remote Toviplayer]\n";
constexpr int kTimerMs = 3000;
constexpr std::uint16_t kMediaPort = 8027;

std::vector<std::string> ProgramArgs(const std::string& listHost, const std::string& siteHost) {
  return {"--address", "127.0.0.1", "--list-host", listHost, "--site-host", siteHost};
}

class EndToEnd : public ::testing::Test {
 protected:
  // The program in a folder of its own under work_, with args.
  std::unique_ptr<ChildProcess> Start(const std::string& folder, const std::vector<std::string>& args,
                                      const std::vector<std::string>& launcher = {}) {
    return tovi::testing::StartProgram(tovi::testing::BuiltProgram(), work_.Path(folder), args,
                                       launcher);
  }
  // The media server's port is fixed; another test may hold it for a moment.
  static bool MediaPortFree() { return WaitUntil([] { return !Accepts(kMediaPort); }, 10000); }

  TempDir work_;
};

// Button1 is what each timer tick clicks (the form's own test shows that); a command is done
// when the next one, "window", has printed the window.
void ClickButton1AndWait(ChildProcess& program) {
  const std::size_t from = program.OutputSize();
  program.WriteLine("Button1");
  program.WriteLine("window");
  EXPECT_NE(program.WaitForOutput("Button2:", from, 10000), std::string::npos) << program.Output();
}

TEST_F(EndToEnd, RegistersOnceAtStartThenStaysQuiet) {
  ScriptedServer service(RecordAndAnswer());
  const auto program = Start("bin", ProgramArgs(service.HostAndPort(), service.HostAndPort()));
  ASSERT_TRUE(service.WaitForRequests(1, 10000)) << program->Output();
  EXPECT_EQ(service.Requests().at(0).rfind(
                "GET /remote/index.php?v=1.1&do=list&localip=127.0.0.1:8027 HTTP/1.1\r\n", 0),
            0u);
  // The address is the same: nothing goes out.
  ClickButton1AndWait(*program);
  EXPECT_EQ(service.Requests().size(), 1u);
  EXPECT_NE(program->Output().find("Memo1: New send"), std::string::npos) << program->Output();
  EXPECT_EQ(program->Output().find(kBox), std::string::npos) << program->Output();
}

TEST_F(EndToEnd, AnUnreachableServiceIsNeitherReportedNorRetried) {
  // A service that hangs up without answering fails every registration the same way a dead
  // host does, but lets the attempts be counted.
  ScriptedServer hangsUp(RecordAndAnswer(""));
  const std::vector<std::string> hosts = {hangsUp.HostAndPort(),
                                          tovi::testing::LoopbackHost(tovi::testing::FreePort())};
  for (std::size_t i = 0; i < hosts.size(); ++i) {
    SCOPED_TRACE(hosts[i]);
    const auto program = Start("bin" + std::to_string(i), ProgramArgs(hosts[i], hosts[i]));
    ASSERT_NE(program->WaitForOutput("Type a number", 0, 10000), std::string::npos);
    ClickButton1AndWait(*program);
    EXPECT_TRUE(program->Running());
    EXPECT_EQ(program->Output().find(kBox), std::string::npos) << program->Output();
  }
  EXPECT_EQ(hangsUp.Requests().size(), 1u);
}

// Waits the upload's real 30 s limit: one build is enough.
TEST_F(EndToEnd, AServiceThatNeverAnswersOrNeverAcceptsFreezesNeitherMenuNorUpload) {
  if (tovi::testing::kSanitized) GTEST_SKIP() << "waits the real upload limit: the native build runs it";
  ASSERT_TRUE(MediaPortFree()) << "port 8027 is busy";
  tovi::testing::SilentListener silent;
  tovi::testing::FullBacklog backlog;
  ASSERT_TRUE(backlog.Hanging()) << "no connect could be made to hang";
  const std::string playlist = work_.Write("lists/a.m3u", "#EXTM3U\r\n");
  struct Peer {
    const char* what;
    std::uint16_t port;
    std::uint8_t addressByte;  // each program serves at its own loopback address
    const char* error;
  };
  const Peer peers[] = {{"accepts and never answers", silent.Port(), 1, "Read Timeout"},
                        {"never accepts", backlog.Port(), 2, "Connect timed out."}};
  // Both at once: the upload's limits are waited out in parallel.
  std::vector<std::unique_ptr<ChildProcess>> programs;
  const auto started = std::chrono::steady_clock::now();
  for (const Peer& p : peers) {
    const std::string host = tovi::testing::LoopbackHost(p.port);
    const std::string address = "127.0.0." + std::to_string(p.addressByte);
    programs.push_back(Start("bin" + std::to_string(p.addressByte),
                             {"--address", address, "--list-host", host, "--site-host", host}));
  }
  for (std::size_t i = 0; i < programs.size(); ++i) {
    SCOPED_TRACE(peers[i].what);
    ChildProcess& program = *programs[i];
    // The registration at start gives up within its limits, and the menu is there.
    ASSERT_NE(program.WaitForOutput("Type a number", 0, 10000), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    program.WriteLine("LocalRFS1");
    const std::uint8_t addressByte = peers[i].addressByte;
    ASSERT_TRUE(WaitUntil([&] { return Accepts(kMediaPort, addressByte); }, 10000))
        << program.Output();
    http::TNetHTTP tv;
    tv.Get("http://127.0.0." + std::to_string(peers[i].addressByte) + ":8027/test?TV1|code|Room");
  }
  std::vector<std::size_t> marks;
  for (auto& program : programs) {
    marks.push_back(program->Output().size());
    program->WriteLine("N4");
    ASSERT_NE(program->WaitForOutput("Open (", marks.back(), 5000), std::string::npos);
    program->WriteLine(playlist);
  }
  const auto uploaded = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < programs.size(); ++i) {
    SCOPED_TRACE(peers[i].what);
    EXPECT_NE(programs[i]->WaitForOutput(std::string(kBox) + peers[i].error, marks[i], 45000),
              std::string::npos)
        << programs[i]->Output();
    EXPECT_LT(std::chrono::steady_clock::now() - uploaded, std::chrono::seconds(45));
    programs[i]->WriteLine("N2");
  }
  EXPECT_EQ(silent.Accepted(), 2);  // the registration and the upload, neither retried
}

// Every inserted value, whatever bytes it holds, is what PHP's $_GET yields: from PHP's own
// server and behind nginx, which refuses request lines with spaces or control bytes.
TEST(ListServiceQueries, EveryValueArrivesWholeStraightAndBehindNginx) {
  struct Case { std::string value, arrives, raw; };  // raw: goes out unencoded, as it always has
  const Case cases[] = {
      {"C:\\Users\\John Smith\\list.m3u", "C:/Users/John Smith/list.m3u", "C:/Users/John"},
      {"C:\\Lists #1\\films.m3u", "C:/Lists #1/films.m3u", ""},
      {"a&b+c 100%.m3u", "a&b+c 100%.m3u", ""},
      {"Samsung TV|UE40|Room\tA\x7F", "Samsung TV|UE40|Room\tA\x7F", "|UE40|Room"},
      {"/home/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC=1;x:y/", "/home/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC=1;x:y/",
       "/home/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC=1;x:y/"},
      {"D:\\\xD4\xE8\xEB\xFC\xEC\\", "D:/\xD4\xE8\xEB\xFC\xEC/", "D:/\xD4\xE8\xEB\xFC\xEC/"},  // Windows-1251
  };
  for (const Front front : {Front::Php, Front::Nginx}) {
    ListServiceFixture service(front);
    const Transport transport = HttpTransport(kUploadLimits);
    const std::string host = service.HostAndPort();
    std::size_t sent = 0;
    for (const Case& c : cases) {
      // PHP's own server refuses raw bytes above 0x7F, which go out raw as they always have.
      const bool eightBit = std::any_of(c.value.begin(), c.value.end(),
                                        [](char b) { return static_cast<unsigned char>(b) > 0x7F; });
      if (front == Front::Php && eightBit) continue;
      SCOPED_TRACE(std::string(front == Front::Nginx ? "nginx: " : "php: ") + c.arrives);
      transport.postText(UploadUrl(host, c.value, c.value), "x");
      transport.postText(FolderSyncUrl(host, c.value, c.value, c.value), "x");
      transport.get(RegistrationUrl(host, "1.1", c.value), http::kBrowserUserAgent);
      sent += 3;
      ASSERT_TRUE(service.WaitForRequests(sent, 5000));
      const std::vector<RecordedRequest> all = service.Requests();
      const RecordedRequest& upload = all[sent - 3];
      const RecordedRequest& sync = all[sent - 2];
      const RecordedRequest& registration = all[sent - 1];
      EXPECT_EQ(upload.query.at("fname"), c.arrives);
      EXPECT_EQ(upload.query.at("initial"), c.arrives);
      EXPECT_EQ(sync.query.at("fdir"), c.arrives);
      EXPECT_EQ(sync.query.at("initial"), c.arrives);
      EXPECT_EQ(sync.query.at("localip"), c.arrives + ":8027");
      EXPECT_EQ(registration.query.at("localip"), c.arrives + ":8027");
      EXPECT_EQ(registration.query.at("v"), "1.1");
      EXPECT_NE(upload.requestLine.find(c.raw), std::string::npos) << upload.requestLine;
    }
  }
}

// The recorded request's header line with this name ("" when absent).
std::string Header(const RecordedRequest& r, const std::string& name) {
  for (const std::string& line : r.headerLines) {
    if (line.rfind(name + ": ", 0) == 0) return line.substr(name.size() + 2);
  }
  return "";
}

// The tree as the program must list it: pre-order, the file system's own order, hidden
// entries included, folders with a trailing "/".
void ListTree(const stdfs::path& folder, const std::string& prefix, std::vector<std::string>* out) {
  for (const stdfs::directory_entry& e : stdfs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    if (e.is_directory()) {
      out->push_back(prefix + name + "/");
      ListTree(e.path(), prefix + name + "/", out);
    } else {
      out->push_back(prefix + name);
    }
  }
}

std::string ExpectedSyncText(const std::vector<std::string>& listing) {
  static const char* const kTypes[] = {".avi", ".mkv", ".mp4", ".mov", ".flv", ".mpeg", ".mp3"};
  std::string text;
  for (std::size_t i = 0; i < listing.size(); ++i) {
    const bool selected = std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char* t) {
      return listing[i].find(t) != std::string::npos;
    });
    if (!selected) continue;
    text += listing[i];
    if (i + 1 < listing.size()) text += ";";
  }
  return text;
}

TEST_F(EndToEnd, UploadsAndSyncsForTheAnnouncedDevice) {
  ASSERT_TRUE(MediaPortFree()) << "port 8027 is busy";

  // Behind nginx, which answers 400 to a request line with a space: the names below hold spaces,
  // "#", "&", "+", "%" and Cyrillic, and so does the TV's own identifier.
  ListServiceFixture service(Front::Nginx);
  service.SetAnswer("Список принят");
  const auto started = Start("bin", ProgramArgs(service.HostAndPort(), service.HostAndPort()));
  ChildProcess& program = *started;

  // The registration at start, as PHP sees it.
  ASSERT_TRUE(service.WaitForRequests(1, 10000)) << program.Output();
  {
    const RecordedRequest r = service.Requests().at(0);
    EXPECT_EQ(r.requestLine.rfind("GET /remote/index.php?v=1.1&do=list&localip=127.0.0.1:8027 ", 0),
              0u) << r.requestLine;
    EXPECT_EQ(r.query.at("v"), "1.1");
    EXPECT_EQ(r.query.at("do"), "list");
    EXPECT_EQ(r.query.at("localip"), "127.0.0.1:8027");
    EXPECT_EQ(Header(r, "Host"), service.HostAndPort());
    EXPECT_EQ(Header(r, "User-Agent").rfind("Mozilla/5.0 (Windows NT 6.1; WOW64)", 0), 0u);
  }

  // No TV yet: neither dialog opens.
  std::size_t mark = program.Output().size();
  program.WriteLine("N4");
  ASSERT_NE(program.WaitForOutput(std::string(kBox) + "Нет активных устройств!", mark, 5000),
            std::string::npos) << program.Output();
  program.WriteLine("N5");
  ASSERT_NE(program.WaitForOutput(std::string(kBox) + "Нет активных устройств!",
                                  program.Output().find("Нет активных", mark) + 1, 5000),
            std::string::npos) << program.Output();
  EXPECT_EQ(program.Output().find("Open (", mark), std::string::npos);
  EXPECT_EQ(program.Output().find("Выберите папку", mark), std::string::npos);

  // The server on, and a TV announces itself.
  program.WriteLine("LocalRFS1");
  ASSERT_TRUE(WaitUntil([] { return Accepts(kMediaPort); }, 10000)) << program.Output();
  {
    http::TNetHTTP tv;
    EXPECT_NE(tv.Get("http://127.0.0.1:8027/test?Samsung%20TV|UE40|%D0%97%D0%B0%D0%BB%20%231")
                  .find("ToviPlayer DLNA Work!"),
              std::string::npos);
  }

  // The upload: a two-line playlist, its full path in fname.
  const std::string device = "Samsung TV|UE40|\xD0\x97\xD0\xB0\xD0\xBB #1";  // Зал #1
  const std::string playlist =
      work_.Write("lists #1/\xD0\xA4\xD0\xB8\xD0\xBB\xD1\x8C\xD0\xBC\xD1\x8B & more+100%.m3u",
                  "#EXTM3U\r\nhttp://a/b.mp4\r\n");
  mark = program.Output().size();
  program.WriteLine("N4");
  ASSERT_NE(program.WaitForOutput("Open (", mark, 5000), std::string::npos) << program.Output();
  program.WriteLine(playlist);
  ASSERT_TRUE(service.WaitForRequests(2, 10000)) << program.Output();
  {
    const RecordedRequest r = service.Requests().at(1);
    EXPECT_EQ(r.requestLine.rfind("POST /remote/index.php?do=uploadfile&fname=", 0), 0u);
    EXPECT_EQ(r.query.at("fname"), playlist);
    EXPECT_EQ(r.query.at("initial"), device);
    ASSERT_TRUE(r.hasText);
    // The closing delimiter's own CR LF leaves one more at the value's end, as the service sees.
    EXPECT_EQ(r.text, "#EXTM3Unxs10nxs13http://a/b.mp4nxs10nxs13\r\n");
    EXPECT_EQ(Header(r, "User-Agent"), "Mozilla/3.0 (compatible; NetHTTP Library)");
  }
  EXPECT_NE(program.WaitForOutput(std::string(kBox) + "Список принят", mark, 5000),
            std::string::npos) << program.Output();

  // The sync of a small tree, in a folder whose name needs encoding.
  TempDir top;
  const std::string sub = "My films #2 & more+100%";
  const stdfs::path tree = top.MakeFolder(sub);
  for (const char* file : {"a.avi", "b.txt", ".hidden.mp3", "MOVIE.AVI", "clip.mp4.txt",
                           "x.mkv/inner.txt", "sub/deep/c.mov",
                           "Фильмы/d.mp4"}) {  // raw UTF-8 bytes on POSIX, as the service receives them
    top.Write(sub + "/" + file, "");
  }
  std::vector<std::string> listing;
  ListTree(tree, tree.string() + "/", &listing);
  mark = program.Output().size();
  program.WriteLine("N5");
  ASSERT_NE(program.WaitForOutput("Выберите папку с видео", mark, 5000), std::string::npos)
      << program.Output();
  program.WriteLine(tree.string());
  ASSERT_TRUE(service.WaitForRequests(3, 10000)) << program.Output();
  {
    const RecordedRequest r = service.Requests().at(2);
    EXPECT_EQ(r.requestLine.rfind("POST /remote/index.php?do=dhcpfile&fdir=", 0), 0u);
    EXPECT_EQ(r.query.at("fdir"), tree.string());
    EXPECT_EQ(r.query.at("initial"), device);
    EXPECT_EQ(r.query.at("localip"), "127.0.0.1:8027");
    ASSERT_TRUE(r.hasText);
    EXPECT_EQ(r.text, ExpectedSyncText(listing) + "\r\n");
    EXPECT_NE(r.text.find(".hidden.mp3"), std::string::npos);
    EXPECT_EQ(r.text.find("MOVIE.AVI"), std::string::npos);
  }
  EXPECT_NE(program.WaitForOutput(std::string(kBox) + "Список принят", mark, 5000),
            std::string::npos) << program.Output();
  // All four lines survive the sync, the server's running state included.
  EXPECT_EQ(fs::ReadWholeFile(work_.Path("bin/setstovi.cfg")),
            "[Path]\r\n" + tree.string() + "\r\n[LFRS]\r\ntrue\r\n");

  // A failing service: its status line reaches a message box.
  service.SetStatus("500 Internal Server Error");
  mark = program.Output().size();
  program.WriteLine("N5");
  ASSERT_NE(program.WaitForOutput("Выберите папку с видео", mark, 5000), std::string::npos);
  program.WriteLine(tree.string());
  ASSERT_TRUE(service.WaitForRequests(4, 10000)) << program.Output();
  const std::size_t box = program.WaitForOutput(kBox, mark, 5000);
  ASSERT_NE(box, std::string::npos) << program.Output();
  const std::string shown = program.Output().substr(box + std::string(kBox).size());
  EXPECT_EQ(shown.rfind("HTTP/1.", 0), 0u) << shown;
  EXPECT_NE(shown.find(" 500 Internal Server Error\n"), std::string::npos) << shown;
  EXPECT_EQ(service.Requests().size(), 4u);  // no retry

  program.WriteLine("N2");  // Exit stops the server, freeing the port for others
  EXPECT_TRUE(program.WaitExit(5000));
}

}  // namespace
}  // namespace tovi::remote

// The exchanges over the real client engine, checked byte for byte on a scripted loopback server.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/raw_client.h"
#include "remote/folder_sync.h"
#include "remote/playlist_upload.h"
#include "remote/registration.h"
#include "remote/service.h"
#include "remote/service_hosts.h"
#include "support/loopback.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace tovi::remote {
namespace {

using tovi::testing::RecordAndAnswer;
using tovi::testing::ScriptedServer;

const std::string kBrowser =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/40.0.2214.93 Safari/537.36";

TEST(ServiceTransport, RegistrationGetGoesOutByteForByte) {
  ScriptedServer service(RecordAndAnswer());
  CurrentServiceHosts().listService = service.HostAndPort();
  std::string lastSent;
  std::string trace;
  PresenceRegistration registration(lastSent, [] { return std::string("192.168.1.5"); },
                                    HttpTransport(kRegistrationLimits),
                                    [&](const std::string& t) { trace = t; });
  registration.Step("1.1");
  registration.Step("1.1");  // same address: quiet
  ASSERT_TRUE(service.WaitForRequests(1, 5000));
  const std::vector<std::string> received = service.Requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0],
            "GET /remote/index.php?v=1.1&do=list&localip=192.168.1.5:8027 HTTP/1.1\r\n"
            "Content-Type: text/html\r\n"
            "Host: " + service.HostAndPort() + "\r\n"
            "Accept: text/html, */*\r\n"
            "User-Agent: " + kBrowser + "\r\n"
            "\r\n");
  EXPECT_EQ(trace, "New send\n\r");
}

TEST(ServiceTransport, ARefusedRegistrationIsSwallowedAndNotRetried) {
  CurrentServiceHosts().listService = tovi::testing::LoopbackHost(tovi::testing::FreePort());
  std::string lastSent;
  int lookups = 0;
  PresenceRegistration registration(lastSent, [&] { ++lookups; return std::string("10.0.0.7"); },
                                    HttpTransport(kRegistrationLimits), nullptr);
  EXPECT_NO_THROW(registration.Step("1.1"));
  EXPECT_EQ(lastSent, "10.0.0.7");  // counts as sent
  const int afterFirst = lookups;
  EXPECT_NO_THROW(registration.Step("1.1"));
  EXPECT_EQ(lookups, afterFirst + 1);  // one lookup, no attempt
}

// An answer that never ends, fast or trickling: what answers for the service's name may be
// anything on the way.
// Either way, a client without limits gets a whole answer after 2000 pieces or 5 s.
void AnswerWithoutEnd(tovi::testing::ScriptPeer& peer, const std::string& piece, int pauseMs) {
  peer.ReadHead();
  peer.Send("HTTP/1.1 200 OK\r\n\r\n");
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int i = 0; i < 2000 && std::chrono::steady_clock::now() < end; ++i) {
    peer.Send(piece);
    if (peer.WaitForClose(pauseMs)) return;
  }
}

TEST(ServiceTransport, AServiceThatNeverAnswersOrNeverEndsEndsEachExchangeAtItsLimit) {
  tovi::testing::SilentListener silent;
  tovi::testing::FullBacklog backlog;
  ScriptedServer endless([](auto& peer) { AnswerWithoutEnd(peer, std::string(65536, 'x'), 0); });
  ScriptedServer trickle([](auto& peer) { AnswerWithoutEnd(peer, "x", 100); });
  const ExchangeLimits limits{300, 300, 1000, 256 * 1024};
  const Transport transport = HttpTransport(limits);
  struct Case {
    int port;
    bool post;
    const char* error;
    int atLeastMs;
  };
  std::vector<Case> cases = {{silent.Port(), false, "Read Timeout", 250},
                             {silent.Port(), true, "Read Timeout", 250},
                             {endless.Port(), false, "Response body too large.", 0},
                             {endless.Port(), true, "Response body too large.", 0},
                             {trickle.Port(), false, "Read Timeout", 950}};
  if (backlog.Hanging()) {
    cases.push_back({backlog.Port(), false, "Connect timed out.", 250});
    cases.push_back({backlog.Port(), true, "Connect timed out.", 250});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.post ? "POST " : "GET ") + std::to_string(c.port) + " " + c.error);
    const std::string url = "http://127.0.0.1:" + std::to_string(c.port) + "/remote/index.php";
    const auto start = std::chrono::steady_clock::now();
    try {
      c.post ? transport.postText(url, "list") : transport.get(url, kBrowser);
      ADD_FAILURE() << "an exchange without a whole answer succeeded";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(c.atLeastMs));
    EXPECT_LT(took, std::chrono::seconds(3));
  }
  EXPECT_EQ(silent.Accepted(), 2);
}

// Splits a received request into head and body.
struct Received {
  std::string head, body;
};
Received Split(const std::string& bytes) {
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) return {bytes, ""};
  return {bytes.substr(0, end + 4), bytes.substr(end + 4)};
}

std::string BoundaryOf(const std::string& head) {
  const std::string key = "Content-Type: multipart/form-data; boundary=";
  const std::size_t at = head.find(key);
  if (at == std::string::npos) return "";
  return head.substr(at + key.size(), head.find("\r\n", at) - at - key.size());
}

TEST(ServiceTransport, UploadPostCarriesThePackedFileAsTheTextField) {
  ScriptedServer site(RecordAndAnswer("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nDone"));
  CurrentServiceHosts().mainSite = site.HostAndPort();
  tovi::testing::TempDir folder;
  const std::string file = folder.Write("list.m3u", "#EXTM3U\r\nhttp://a/b%20c.mp4\r\n");

  PlaylistUploadHost host;
  host.activeDevice = "TV|7|Hall";
  // On Windows the path holds backslashes; they reach the request line as "/".
  host.choosePlaylist = [&](std::string* path) {
    *path = file;
    return true;
  };
  std::vector<std::string> messages;
  host.showMessage = [&](const std::string& text) { messages.push_back(text); };
  host.transport = HttpTransport(kUploadLimits);
  UploadPlaylist(host);
  EXPECT_EQ(messages, std::vector<std::string>{"Done"});

  ASSERT_TRUE(site.WaitForRequests(1, 5000));
  const Received r = Split(site.Requests().at(0));
  std::string wirePath = file;
  for (char& c : wirePath) {
    if (c == '\\') c = '/';
  }
  const std::string boundary = BoundaryOf(r.head);
  ASSERT_EQ(boundary.size(), 23u);
  const std::string body = "--" + boundary + "\r\n" +
                           "Content-Disposition: form-data; name=\"text\"\r\n\r\n" +
                           "#EXTM3Unxs10nxs13http://a/b%20c.mp4nxs10nxs13\r\n" +
                           "\r\n--" + boundary + "--\r\n";
  EXPECT_EQ(r.head, "POST /remote/index.php?do=uploadfile&fname=" + wirePath +
                        "&initial=TV|7|Hall HTTP/1.0\r\n"
                        "Connection: keep-alive\r\n"
                        "Content-Type: multipart/form-data; boundary=" + boundary + "\r\n"
                        "Content-Length: " + std::to_string(body.size()) + "\r\n"
                        "Host: " + site.HostAndPort() + "\r\n"
                        "Accept: text/html, */*\r\n"
                        "User-Agent: Mozilla/3.0 (compatible; NetHTTP Library)\r\n"
                        "\r\n");
  EXPECT_EQ(r.body, body);
}

TEST(ServiceTransport, AnErrorStatusReachesTheUserAsTheStatusLine) {
  ScriptedServer service(RecordAndAnswer(
      "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 6\r\nConnection: close\r\n\r\nBroken"));
  CurrentServiceHosts().listService = service.HostAndPort();
  tovi::testing::TempDir folder;
  folder.Write("a.avi", "");

  FolderSyncHost host;
  host.activeDevice = "TV";
  host.chooseFolder = [&](std::string* path) {
    *path = folder.Native();
    return true;
  };
  host.pumpMessages = [] {};
  host.storeFolder = [](const std::string&) {};
  host.writeSettings = [](const std::string&) {};
  host.showSyncFolder = [](const std::string&) {};
  bool timer = false;
  host.enableServerStart = [&] { timer = true; };
  host.localAddress = [] { return std::string("127.0.0.1"); };
  std::vector<std::string> messages;
  host.showMessage = [&](const std::string& text) { messages.push_back(text); };
  host.transport = HttpTransport(kUploadLimits);
  try {
    SyncVideoFolder(host);
    ADD_FAILURE() << "a 500 answer was taken as success";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "HTTP/1.1 500 Internal Server Error");
  }
  EXPECT_TRUE(messages.empty());
  EXPECT_TRUE(timer);  // set before the request, kept after its failure
  EXPECT_EQ(service.Requests().size(), 1u);  // no retry
}

}  // namespace
}  // namespace tovi::remote

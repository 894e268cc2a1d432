// Clients that die, stall or crawl, against the real media server with its limits scaled down
// (the product's 30 s for a head, a stalled body or a silent page and 120 s for a send without
// progress have their own test where they are defined). Each slow case runs while a
// well-behaved client keeps fetching; afterwards every thread and handle of the dead
// connections must be back (this process's /proc counts).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "fault_support.h"
#include "support/page_server.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::fault {
namespace {

constexpr std::uint64_t kGiB = 1ull << 30;
// A client's receive buffer small enough that a large answer soon waits on it.
constexpr int kSmallWindow = 4096;

// A sparse 1 GiB file: made at once, reads as zeros.
std::string MakeBigFile(const testing::TempDir& dir) {
  const std::string path = dir.Write("big.bin", "");
  std::filesystem::resize_file(path, kGiB);
  return path;
}

double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

struct SlowResult {
  std::string answer;
  bool closed = false;
  double seconds = 0;
};

// Sends `head` one byte per second until the server hangs up (at most 45 s).
SlowResult TrickleHead(std::uint16_t port, const std::string& head) {
  SlowResult r;
  const auto start = Clock::now();
  tovi::testing::RawClient client(port);
  for (std::size_t i = 0; i < 45 && !r.closed; ++i) {
    if (!client.Send(head.substr(i % head.size(), 1))) {
      r.closed = true;
      break;
    }
    std::string got;
    r.closed = client.WaitClosed(1000, &got);
    r.answer += got;
  }
  r.seconds = SecondsSince(start);
  return r;
}

// Sends `request`, then nothing, waiting (at most timeoutMs) for the answer and the close.
SlowResult SendAndWait(std::uint16_t port, const std::string& request, int timeoutMs) {
  SlowResult r;
  const auto start = Clock::now();
  tovi::testing::RawClient client(port);
  client.Send(request);
  r.closed = client.WaitClosed(timeoutMs, &r.answer);
  r.seconds = SecondsSince(start);
  return r;
}

// Reads a whole stream of the file; returns the body bytes received.
std::uint64_t StreamAll(std::uint16_t port, const std::string& path, int timeoutMs) {
  tovi::testing::RawClient client(port);
  client.Send("GET " + path + " HTTP/1.1\r\n\r\n");
  const std::string head = client.ReadCount(1, timeoutMs);
  std::uint64_t total = head.size();
  const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!client.PeerClosed() && Clock::now() < until) {
    total += client.ReadCount(1 << 20, 2000).size();
  }
  return total;
}

TEST(DeadClients, ADroppedStreamIsReclaimedWhileAnotherStreamGoesOn) {
  testing::TempDir dir;
  const std::string big = MakeBigFile(dir);
  MediaServer server;
  const int threads = ThreadCount(), handles = HandleCount();

  auto other = std::async(std::launch::async, [&] { return StreamAll(server.Port(), big, 60000); });
  for (int round = 0; round < 5; ++round) {
    tovi::testing::RawClient client;
    ASSERT_TRUE(client.Connect(server.Port(), 5000, 0, kSmallWindow));
    ASSERT_TRUE(client.Send("GET " + big + " HTTP/1.1\r\n\r\n"));
    ASSERT_GE(client.ReadCount(8u << 20, 60000).size(), 8u << 20);
    client.Close();  // in the middle of a 1 GiB answer
  }
  const std::uint64_t otherBytes = other.get();
  EXPECT_GT(otherBytes, kGiB) << "the other stream was cut short";
  EXPECT_TRUE(server.WaitConnectionsAtMost(0, 5000));
  server.SwitchOff();
  EXPECT_TRUE(WaitCountsAtMost(threads, handles, 5000))
      << "threads " << ThreadCount() << " (were " << threads << "), handles " << HandleCount()
      << " (were " << handles << ")";
}

// One slow client at a time, while a well-behaved client keeps fetching a page and a byte range
// of a file: every fetch is answered, and once the slow client is gone every thread and handle
// its connection took is back.
class SlowClients : public ::testing::Test {
 protected:
  void Start(const http::TNetServerLimits& limits, const server::PageFetchLimits& pageLimits = {}) {
    dir_.Write("small.bin", std::string(100000, 's'));
    server_ = std::make_unique<MediaServer>(limits, pageLimits);
    threads_ = ThreadCount();
    handles_ = HandleCount();
  }
  std::uint16_t Port() { return server_->Port(); }

  // Runs slowClient on a thread of its own, fetching meanwhile; its result.
  template <class SlowClient>
  auto WhileOthersAreServed(SlowClient slowClient) {
    auto result = std::async(std::launch::async, slowClient);
    int served = 0, failed = 0;
    do {
      const auto a = Get(Port(), "/test", "", "GET", 10000);
      const auto b = Get(Port(), dir_.Path("small.bin"), "Range: bytes=10-20\r\n", "GET", 5000);
      const bool ok =
          a.statusLine == "HTTP/1.1 200 OK" && b.statusLine == "HTTP/1.1 206 Partial Content";
      (ok ? served : failed) += 1;
    } while (result.wait_for(std::chrono::milliseconds(200)) != std::future_status::ready);
    EXPECT_GT(served, 0);
    EXPECT_EQ(failed, 0);
    return result.get();
  }

  void TearDown() override {
    if (!server_) return;
    EXPECT_TRUE(server_->WaitConnectionsAtMost(0, 10000));
    server_->SwitchOff();
    EXPECT_TRUE(WaitCountsAtMost(threads_, handles_, 5000))
        << "threads " << ThreadCount() << " (were " << threads_ << "), handles " << HandleCount()
        << " (were " << handles_ << ")";
  }

  testing::TempDir dir_;
  std::unique_ptr<MediaServer> server_;
  int threads_ = 0, handles_ = 0;
};

TEST_F(SlowClients, AHeadTrickledPastItsLimitIsClosedWithoutAnswer) {
  http::TNetServerLimits limits;
  limits.requestHeadTimeoutMs = 3000;
  Start(limits);
  const SlowResult r = WhileOthersAreServed([&] {
    return TrickleHead(Port(), "GET /test HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Pad: " +
                                   std::string(200, 'p') + "\r\n\r\n");
  });
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(r.answer, "");
  EXPECT_GE(r.seconds, 2.8);
  EXPECT_LE(r.seconds, 5);
}

TEST_F(SlowClients, AStalledBodyIsClosedWithoutAnswer) {
  http::TNetServerLimits limits;
  limits.bodyStallTimeoutMs = 3000;
  Start(limits);
  const SlowResult r = WhileOthersAreServed([&] {
    return SendAndWait(Port(), "POST /test HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\nsome body", 15000);
  });
  EXPECT_TRUE(r.closed);
  EXPECT_EQ(r.answer, "");
  EXPECT_GE(r.seconds, 2.8);
  EXPECT_LE(r.seconds, 5);
}

// A page that never ends is cut at the fetch's 32 MiB cap; nothing between the markers ends in
// it, and the answer is the page as far as it came.
TEST_F(SlowClients, AFloodingPageIsCutAtTheFetchCap) {
  Start({});
  testing::PageServer pages;
  const SlowResult r = WhileOthersAreServed([&] {
    return SendAndWait(Port(), Request("GET", "/parserlink?" + pages.Url("/endless") + "|<b>|</b>"), 30000);
  });
  EXPECT_EQ(ParseResponse(r.answer).statusLine, "HTTP/1.1 200 OK");
  EXPECT_GE(pages.EndlessBytes(), 32ll << 20);
  EXPECT_LT(pages.EndlessBytes(), 200ll << 20);
}

// A page that falls silent is given up after its silence limit; what came is the page.
TEST_F(SlowClients, ASilentPageIsGivenUpAtItsSilenceLimit) {
  server::PageFetchLimits pageLimits;
  pageLimits.timeoutMs = 3000;
  Start({}, pageLimits);
  testing::PageServer pages;
  const SlowResult r = WhileOthersAreServed([&] {
    return SendAndWait(Port(), Request("GET", "/parserlink?" + pages.Url("/slow") + "|<b>|</b>"), 15000);
  });
  EXPECT_EQ(ParseResponse(r.answer).statusLine, "HTTP/1.1 200 OK");
  EXPECT_GE(r.seconds, 2.8);
  EXPECT_LE(r.seconds, 6);
}

// A send that moved some bytes and then waited out the whole limit used to return those bytes,
// and the next send waited the limit again: a reader that stopped held its connection for twice
// the limit. With a 2 s limit (so the case is quick) it must end within the limit and a margin.
TEST_F(SlowClients, AStoppedReaderIsCutOffAfterOneSendLimitNotTwo) {
  testing::TempDir big;
  const std::string film = MakeBigFile(big);
  http::TNetServerLimits limits;
  limits.sendStallTimeoutMs = 2000;
  Start(limits);
  const auto start = Clock::now();
  tovi::testing::RawClient reader;
  ASSERT_TRUE(reader.Connect(Port(), 5000, 0, kSmallWindow));
  ASSERT_TRUE(reader.Send("GET " + film + " HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(testing::WaitUntil([&] { return server_->Connections() == 1; }, 5000));
  // The well-behaved client's connections come and go in between: none open means none stalled.
  EXPECT_TRUE(WhileOthersAreServed([&] {
    return testing::WaitUntil([&] { return server_->Connections() == 0; }, 10000);
  }));
  const double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 1.9);
  EXPECT_LT(seconds, 3.5) << "the stall was noticed only after a second send limit";
}

// Idle connections hold no thread: 300 held open by one peer neither refuse nor slow anyone. A
// stream begun before them runs on complete; a client that browses is served at once every
// time; the idle ones are closed by the head limit (3 s here, so the case is quick: the limit's
// own value has its test in the engine suite).
TEST(IdleConnections, ThreeHundredHeldWithoutThreadsWhileOneStreamsAndAnotherBrowses) {
  testing::TempDir dir;
  const std::string big = MakeBigFile(dir);
  for (int i = 0; i < 50; ++i) dir.Write("clip" + std::to_string(i) + ".mp4", "c");
  http::TNetServerLimits limits;
  limits.requestHeadTimeoutMs = 3000;
  MediaServer server(limits);
  const std::uint16_t port = server.Port();
  const int threads = ThreadCount(), handles = HandleCount();
  const auto start = Clock::now();

  std::atomic<bool> browsed{false};
  auto stream = std::async(std::launch::async, [&] {
    // Whole-file streams one after another until the browsing is done: each must end complete.
    int whole = 0, cut = 0;
    while (!browsed && SecondsSince(start) < 60) {
      (StreamAll(port, big, 30000) > kGiB ? whole : cut) += 1;
    }
    return std::make_pair(whole, cut);
  });
  std::vector<std::unique_ptr<tovi::testing::RawClient>> idle;
  for (int i = 0; i < 300; ++i) idle.push_back(std::make_unique<tovi::testing::RawClient>(port));
  ASSERT_TRUE(testing::WaitUntil(
      [&] { return server.Engine().ThreadMgr()->WaitingIdleCount() == 300; }, 10000));
  // This test's streaming client, the thread that streams to it, and threads kept.
  const int most = threads + 2 + limits.keptThreads;
  EXPECT_TRUE(testing::WaitUntil([&] { return ThreadCount() <= most; }, 5000))
      << ThreadCount() << " threads with 300 idle connections, " << threads << " before";

  int playlists = 0;
  for (int i = 0; i < 20; ++i) {
    const auto a = Get(port, "/treeview?" + dir.Folder(), "", "GET", 5000);
    if (a.statusLine == "HTTP/1.1 200 OK" && a.body.find("clip49.mp4") != std::string::npos) {
      ++playlists;
    }
  }
  EXPECT_EQ(playlists, 20);
  browsed = true;
  const auto [whole, cut] = stream.get();
  EXPECT_GE(whole, 1);
  EXPECT_EQ(cut, 0) << "a stream was cut short";

  int closedByServer = 0;
  for (auto& c : idle) closedByServer += c->WaitClosed(10000) ? 1 : 0;
  EXPECT_EQ(closedByServer, 300);
  EXPECT_GE(SecondsSince(start), 2.9) << "closed before their head limit";
  idle.clear();
  EXPECT_TRUE(server.WaitConnectionsAtMost(0, 10000));
  server.SwitchOff();
  EXPECT_TRUE(WaitCountsAtMost(threads, handles, 10000))
      << "threads " << ThreadCount() << " (were " << threads << "), handles " << HandleCount()
      << " (were " << handles << ")";
}

// 256 connections from one address that announce bodies and send them a byte at a time (GET
// bodies, which are never read, and POST bodies, which wait without a thread) leave a TV at
// another address served at once.
TEST_F(SlowClients, SlowBodiesFromOneAddressDoNotLockOutAnother) {
  ASSERT_TRUE(testing::RaiseOpenHandleLimit(4096)) << "needs 4,096 open files";
  MediaServer server;
  const std::uint16_t port = server.Port();
  std::vector<tovi::testing::RawClient> slow(256);
  for (std::size_t i = 0; i < slow.size(); ++i) {
    ASSERT_TRUE(slow[i].Connect(port)) << i;
    const std::string method = i % 2 == 0 ? "GET" : "POST";
    ASSERT_TRUE(slow[i].Send(method + " /test HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Content-Length: 100000\r\n\r\nb"));
  }
  EXPECT_TRUE(testing::WaitUntil(
      [&] { return server.Engine().ThreadMgr()->WaitingIdleCount() == 128; }, 10000))
      << server.Engine().ThreadMgr()->WaitingIdleCount() << " POST bodies waiting idle";
  tovi::testing::RawClient tv;
  const auto start = Clock::now();
  ASSERT_TRUE(tv.Connect(port, 5000, 2));
  ASSERT_TRUE(tv.Send("GET /test HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"));
  EXPECT_EQ(ParseResponse(tv.ReadResponse(5000)).statusLine, "HTTP/1.1 200 OK");
  EXPECT_LT(SecondsSince(start), 1.0) << "the TV waited";
}

}  // namespace
}  // namespace tovi::fault

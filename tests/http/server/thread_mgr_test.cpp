// The pool thread manager: threads kept for the next connection, connections that wait for a
// request holding no thread, the bound on those, and the switch-off.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/exceptions.h"
#include "http/server/idle_connections.h"
#include "http/server/thread_pool.h"
#include "support/raw_client.h"
#include "support/process_counts.h"
#include "http/server/test_server.h"
#include "support/wait.h"

namespace tovi::http {
namespace {

using tovi::testing::WaitUntil;
using Clock = std::chrono::steady_clock;

// A number of the system thread that asks, never given to another: reuse shows as a repeat.
int ThreadSerial() {
  static std::atomic<int> next{0};
  thread_local const int serial = ++next;
  return serial;
}

// A pooled server that keeps connections and answers each request with its path.
TNetThreadMgr& StartPathEcho(test::TestServer& s) {
  TNetThreadMgr& pool = s.UsePool();
  s.server.SetKeepAlive(true);
  s.server.OnCommandGet = [](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    r.SetBodyText(q.RequestPath());
  };
  s.Start();
  return pool;
}

std::string Body(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// One kept thread serves connection after connection, one whose handler threw included; a thread
// that an exception unknown to the engine ended is not kept, and the next connection gets another.
// A request whose bytes come after its connection's first short wait for them is served by
// whichever thread is free when they come (a new one while the kept one accepts): on a loaded
// machine that happens, and says nothing of keeping. Such a round is run again, on a fresh
// server: *onTime is false when one request came so.
void KeptThreadRound(bool* onTime) {
  test::TestServer s;
  TNetThreadMgr& pool = s.UsePool();
  TNetServerLimits limits;
  limits.keptThreads = 1;
  s.server.SetLimits(limits);
  std::mutex lock;
  std::vector<int> servedBy;  // the thread of each request, in order
  *onTime = true;
  std::atomic<int> staleStarts{0};
  s.server.OnConnect = [&](TNetPeerThread& t) {
    if (t.Stopped() || !t.TerminatingException().empty()) ++staleStarts;
  };
  s.server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    {
      std::lock_guard<std::mutex> guard(lock);
      servedBy.push_back(ThreadSerial());
      *onTime = *onTime && t.FirstTurn();
    }
    if (q.RequestPath() == "/fails") throw std::runtime_error("failed");  // a 500
    if (q.RequestPath() == "/foreign") throw 42;  // no exception of the engine's: escapes
    r.SetBodyText("ok " + q.RequestPath());
  };
  s.Start();
  const std::vector<std::string> paths = {"/a", "/fails", "/b", "/foreign", "/c", "/d"};
  const std::size_t foreign = 3;
  for (const std::string& path : paths) {
    const std::string answer =
        tovi::testing::ExchangeBytes(s.Port(), "GET " + path + " HTTP/1.1\r\n\r\n");
    const std::string want = path == "/fails" ? "failed" : path == "/foreign" ? "" : "ok " + path;
    EXPECT_EQ(path == "/foreign" ? answer : Body(answer), want) << path;
    ASSERT_TRUE(s.WaitIdle());
    {
      std::lock_guard<std::mutex> guard(lock);
      if (!*onTime) return;
    }
    // Back in the pool before the next connection comes (the one the foreign exception ended,
    // gone).
    const std::size_t kept = path == "/foreign" ? 0 : 1;
    ASSERT_TRUE(WaitUntil([&] { return pool.KeptThreadCount() == kept; }, 5000)) << path;
  }
  std::lock_guard<std::mutex> guard(lock);
  ASSERT_EQ(servedBy.size(), paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(servedBy[i], servedBy[i <= foreign ? 0 : foreign + 1]) << paths[i];
  }
  EXPECT_NE(servedBy[foreign + 1], servedBy[foreign]) << "a thread an unknown exception ended";
  EXPECT_EQ(staleStarts.load(), 0);
}

TEST(ThreadPool, KeepsThreadsForTheNextConnectionButNotOneAForeignExceptionEnded) {
  constexpr int kRounds = 5;  // enough for a round with every request on time under load
  bool onTime = false;
  for (int round = 0; round < kRounds && !onTime && !::testing::Test::HasFailure(); ++round) {
    KeptThreadRound(&onTime);
  }
  if (!::testing::Test::HasFailure()) {
    EXPECT_TRUE(onTime) << "a request came late in every round";
  }
}

TEST(ThreadPool, ConnectionsWaitingForARequestHoldNoThread) {
  test::TestServer s;
  TNetThreadMgr& pool = StartPathEcho(s);
  tovi::testing::RawClient silent(s.Port()), partial(s.Port()), kept(s.Port());
  ASSERT_TRUE(partial.Send("GET /second HTTP/1.1\r\nHost: x\r\n"));  // no empty line yet
  ASSERT_TRUE(kept.Send("GET /first HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(Body(kept.ReadResponse()), "/first");
  // Between requests and before the end of a head alike.
  ASSERT_TRUE(WaitUntil([&] { return pool.WaitingIdleCount() == 3; }, 5000));
  ASSERT_TRUE(kept.Send("GET /third HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(Body(kept.ReadResponse()), "/third");
  ASSERT_TRUE(partial.Send("\r\n"));
  EXPECT_EQ(Body(partial.ReadResponse()), "/second");
  EXPECT_EQ(s.server.ConnectionCount(), 3u);
}

TEST(ThreadPool, IdleConnectionsEndAtTheirHeadDeadlineOrWhenTheBoundNeedsRoom) {
  test::TestServer s;
  TNetThreadMgr& pool = s.UsePool();
  TNetServerLimits limits;
  limits.maxIdleConnections = 3;
  limits.requestHeadTimeoutMs = 2000;
  s.server.SetLimits(limits);
  s.server.OnCommandGet = [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("served"); };
  s.Start();
  // One after another, so the first waits longest.
  tovi::testing::RawClient first(s.Port());
  ASSERT_TRUE(WaitUntil([&] { return pool.WaitingIdleCount() == 1; }, 5000));
  tovi::testing::RawClient partial(s.Port());
  ASSERT_TRUE(partial.Send("GET / HT"));
  ASSERT_TRUE(WaitUntil([&] { return pool.WaitingIdleCount() == 2; }, 5000));
  tovi::testing::RawClient third(s.Port());
  ASSERT_TRUE(WaitUntil([&] { return pool.WaitingIdleCount() == 3; }, 5000));

  tovi::testing::RawClient fourth(s.Port());  // the first makes room for it
  ASSERT_TRUE(fourth.Send("GET / HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(Body(fourth.ReadAll()), "served");
  for (tovi::testing::RawClient* c : {&first, &partial, &third}) {
    std::string got;
    EXPECT_TRUE(c->WaitClosed(5000, &got));
    EXPECT_EQ(got, "");
  }
  ASSERT_TRUE(s.WaitIdle());
  std::vector<std::string> exceptions = s.Exceptions();
  std::sort(exceptions.begin(), exceptions.end());
  EXPECT_EQ(exceptions, (std::vector<std::string>{"Connection Closed Gracefully.", "Read Timeout",
                                                  "Read Timeout"}));
}

// Connections that waited in line for a thread were admitted before they counted among their
// device's idle ones: the device's share still holds once they wait idle.
TEST(ThreadPool, ADevicesShareOfIdleConnectionsHoldsForThoseThatWaitedInLine) {
  test::TestServer s;
  TNetThreadMgr& pool = s.UsePool();
  TNetServerLimits limits;
  limits.maxServedConnections = 1;
  limits.maxIdleConnections = 8;
  limits.maxIdlePerPeer = 2;
  s.server.SetLimits(limits);
  std::mutex lock;
  std::condition_variable released;
  bool release = false;
  std::atomic<bool> held{false};
  s.server.OnCommandGet = [&](auto&, auto&, TNetHTTPResponseInfo& r) {
    held = true;
    std::unique_lock<std::mutex> guard(lock);
    released.wait_for(guard, std::chrono::seconds(10), [&] { return release; });
    r.SetBodyText("served");
  };
  s.Start();
  tovi::testing::RawClient holding(s.Port());
  ASSERT_TRUE(holding.Send("GET / HTTP/1.0\r\n\r\n"));
  ASSERT_TRUE(WaitUntil([&] { return held.load(); }, 5000));
  std::list<tovi::testing::RawClient> silent;
  for (int i = 0; i < 5; ++i) silent.emplace_back(s.Port());
  ASSERT_TRUE(WaitUntil([&] { return s.server.ConnectionCount() == 6; }, 5000));
  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
  }
  released.notify_all();
  EXPECT_EQ(Body(holding.ReadAll()), "served");
  ASSERT_TRUE(WaitUntil([&] { return s.server.ConnectionCount() == 2; }, 5000))
      << s.server.ConnectionCount() << " open, " << pool.WaitingIdleCount() << " idle";
  EXPECT_EQ(pool.WaitingIdleCount(), 2u);
}

// The kept threads accept, and the one that takes a connection serves it: while every thread
// that was accepting is held by a long turn, a connection that comes is still taken and served.
TEST(ThreadPool, ConnectionsAreTakenWhileTheThreadsThatAcceptServeLongTurns) {
  test::TestServer s;
  s.UsePool();
  std::mutex lock;
  std::condition_variable released;
  bool release = false;
  std::atomic<int> held{0};
  s.server.OnCommandGet = [&](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    if (q.RequestPath() == "/hold") {
      ++held;
      std::unique_lock<std::mutex> guard(lock);
      released.wait_for(guard, std::chrono::seconds(10), [&] { return release; });
    }
    r.SetBodyText("served " + q.RequestPath());
  };
  s.Start();
  std::list<tovi::testing::RawClient> holding;
  for (int i = 1; i <= 3; ++i) {
    holding.emplace_back(s.Port());
    ASSERT_TRUE(holding.back().Send("GET /hold HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return held == i; }, 5000)) << "connection " << i;
  }
  EXPECT_EQ(Body(tovi::testing::ExchangeBytes(s.Port(), "GET /quick HTTP/1.1\r\n\r\n")),
            "served /quick");
  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
  }
  released.notify_all();
  for (tovi::testing::RawClient& c : holding) EXPECT_EQ(Body(c.ReadAll()), "served /hold");
}

// Turns of peers a, a, a, b, c, each holding its thread until let go (all are, and end, at exit).
struct HeldTurns {
  struct Turn : TNetTurn {
    Turn(const char* p) : peer(p) {}  // not explicit: built in place in the array
    bool Run() override {
      started = true;
      const bool released = WaitUntil([this] { return release.load(); }, 20000);
      ended = true;
      return released;
    }
    const std::string& Peer() const override { return peer; }
    bool Aborted() const override { return false; }
    const std::string peer;
    std::atomic<bool> started{false}, release{false}, ended{false};
  };
  ~HeldTurns() {
    for (Turn& t : turns) t.release = true;
    WaitUntil([this] { return Flags(&Turn::ended) == "11111"; }, 20000);
  }
  std::string Flags(std::atomic<bool> Turn::*flag) const {
    std::string s;
    for (const Turn& t : turns) s += (t.*flag).load() ? '1' : '0';
    return s;
  }
  Turn turns[5] = {{"a"}, {"a"}, {"a"}, {"b"}, {"c"}};
};

// The pool driven directly: at most maxBusy turns at once and maxPerPeer of a peer (a later
// peer's turn passes), the rest in line in order; then `kept` threads stay, Stop ends them at once.
TEST(ThreadPool, RunsTurnsWithinItsBoundsInOrderAndStopEndsTheKeptThreads) {
  const long threadsBefore = tovi::testing::ThreadCountBefore();
  const auto pool = std::make_shared<TNetThreadPool>();
  pool->Open(2, 3, 2);  // kept, maxBusy, maxPerPeer
  HeldTurns held;
  const auto started = [&] { return held.Flags(&HeldTurns::Turn::started); };
  for (HeldTurns::Turn& t : held.turns) pool->Run(&t);
  ASSERT_TRUE(WaitUntil([&] { return started() == "11010"; }, 5000)) << started();
  EXPECT_EQ(pool->Waiting(), 2u);
  held.turns[0].release = true;  // its thread takes the first in line that may run: a, not c
  ASSERT_TRUE(WaitUntil([&] { return started() == "11110"; }, 5000)) << started();
  held.turns[3].release = true;
  ASSERT_TRUE(WaitUntil([&] { return started() == "11111"; }, 5000)) << started();
  for (HeldTurns::Turn& t : held.turns) t.release = true;
  EXPECT_TRUE(WaitUntil([&] {
    pool->Reap();
    return pool->Kept() == 2 && tovi::testing::ThreadCount() == threadsBefore + 2;
  }, 5000)) << pool->Kept() << " kept, " << tovi::testing::ThreadCount() - threadsBefore;
  const auto start = Clock::now();
  pool->Stop();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));  // else they were not woken
}

// Idle connections driven directly, over loopback connections made for them: Waiting(host,
// after) makes one from 127.0.0.host, due `after` from the start, and has it wait.
class IdleConnections : public ::testing::Test {
 protected:
  void SetUp() override {
    listener_ = tovi::testing::ListenOnLoopback(16, &port_);
    ASSERT_NE(listener_, net::kInvalidSocket);
  }
  void TearDown() override {
    idle.Close();
    net::Close(listener_);
  }
  // Its index; -1 when it could not be made or was not taken.
  int Waiting(std::uint8_t host, Clock::duration after) {
    auto& client = clients.emplace_back();
    if (!client.Connect(port_, 5000, host)) return -1;
    auto connection = std::make_unique<TNetTCPServerConnection>();
    const net::SocketHandle accepted = net::Accept(listener_, nullptr);
    connection->Attach(accepted);
    connection->Binding().Adopt(accepted, TNetSocketHandle());
    connection->SetReadDeadline(start + after);
    peers.push_back(std::make_unique<TNetPeerThread>(server_, std::move(connection)));
    return idle.Add(peers.back().get()) ? static_cast<int>(peers.size()) - 1 : -1;
  }
  // '1' for each connection handed back, in the order they were made.
  std::string HandedBack() {
    std::lock_guard<std::mutex> guard(lock_);
    std::string s;
    for (const auto& peer : peers) s += back.count(peer.get()) ? '1' : '0';
    return s;
  }

  const Clock::time_point start = Clock::now();
  std::list<tovi::testing::RawClient> clients;
  std::vector<std::unique_ptr<TNetPeerThread>> peers;
  std::map<TNetPeerThread*, Clock::time_point> back;  // when each was handed back
  TNetIdleConnections idle{[this](TNetPeerThread* t) {
    std::lock_guard<std::mutex> guard(lock_);
    back[t] = Clock::now();
  }};

 private:
  std::mutex lock_;
  std::uint16_t port_ = 0;
  net::SocketHandle listener_ = net::kInvalidSocket;
  TNetTCPServer server_;  // the connections' owner, never switched on
};

// Each is handed back when bytes come, once its read deadline has passed, when room is made,
// or at Close, after which none is taken.
TEST_F(IdleConnections, AreHandedBackOnBytesAtTheirDeadlineForRoomAndAtClose) {
  idle.Open(4, 0);
  // Bytes come on the first; the second is due first.
  for (auto after : {std::chrono::milliseconds(60000), std::chrono::milliseconds(300),
                     std::chrono::milliseconds(30000), std::chrono::milliseconds(90000)}) {
    ASSERT_GE(Waiting(1, after), 0);
  }
  ASSERT_TRUE(clients.front().Send("x"));
  ASSERT_TRUE(WaitUntil([&] { return HandedBack() == "1100"; }, 5000)) << HandedBack();
  EXPECT_GE(back[peers[1].get()], start + std::chrono::milliseconds(300))
      << "handed back before its deadline";
  EXPECT_TRUE(idle.MakeRoomFor("127.0.0.1", 2));  // two in line: the bound is reached
  EXPECT_EQ(HandedBack(), "1110");
  EXPECT_TRUE(std::next(clients.begin(), 2)->WaitClosed(2000))
      << "the one closed for room is still open";
  idle.Close();
  EXPECT_EQ(HandedBack(), "1111");
  EXPECT_EQ(idle.Count(), 0u);
  EXPECT_FALSE(idle.Add(peers[0].get()));
}

// Room is made from the peer that holds most, never from another device: at the bound the peer
// that holds most loses its longest-waiting connection though another's is due first, and a
// peer at its share loses its own below the bound.
TEST_F(IdleConnections, RoomIsMadeFromThePeerThatHoldsMost) {
  using std::chrono::seconds;
  idle.Open(6, 3);  // bound, share
  const struct { std::uint8_t host; Clock::duration after; } waiting[] = {
      {2, seconds(10)}, {1, seconds(60)}, {1, seconds(30)}, {3, seconds(20)}};
  for (const auto& w : waiting) ASSERT_GE(Waiting(w.host, w.after), 0);
  EXPECT_TRUE(idle.MakeRoomFor("127.0.0.4", 1));  // below the bound: none closed
  EXPECT_EQ(HandedBack(), "0000");
  EXPECT_TRUE(idle.MakeRoomFor("127.0.0.3", 2));  // at it, with two in line
  EXPECT_EQ(HandedBack(), "0010");

  ASSERT_GE(Waiting(1, seconds(5)), 0);  // .1 holds its share of three, five wait in all
  ASSERT_GE(Waiting(1, seconds(90)), 0);
  EXPECT_EQ(idle.CountOf("127.0.0.1"), 3u);
  EXPECT_TRUE(idle.MakeRoomFor("127.0.0.2", 0));
  EXPECT_EQ(HandedBack(), "001000");
  EXPECT_TRUE(idle.MakeRoomFor("127.0.0.1", 0));
  EXPECT_EQ(HandedBack(), "001010");
  EXPECT_TRUE(std::next(clients.begin(), 4)->WaitClosed(2000)) << "closed for room, yet open";

  idle.Close();
  EXPECT_FALSE(idle.MakeRoomFor("127.0.0.1", 6)) << "room made with none waiting";
}

TEST(ThreadPool, SwitchingOffEndsWaitingAndBusyConnectionsAndTheKeptThreads) {
  const long threadsBefore = tovi::testing::ThreadCountBefore();
  {
    test::TestServer s;
    TNetThreadMgr& pool = s.UsePool();
    std::atomic<bool> sending{false};
    std::atomic<int> disconnects{0};
    s.server.OnDisconnect = [&](TNetPeerThread&) { ++disconnects; };
    s.server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& q,
                                TNetHTTPResponseInfo& r) {
      if (q.RequestPath() != "/endless") return r.SetBodyText("served");
      r.SendHeaders();
      sending = true;
      const std::string chunk(1 << 20, 'e');
      for (int i = 0; i < 256; ++i) t.Connection().Write(chunk);  // to a reader that stopped
    };
    s.Start();
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(Body(tovi::testing::ExchangeBytes(s.Port(), "GET / HTTP/1.1\r\n\r\n")), "served");
    }
    tovi::testing::RawClient silent(s.Port()), partial(s.Port()), reader(s.Port());
    ASSERT_TRUE(partial.Send("GET /x HTTP/1.1\r\n"));
    ASSERT_TRUE(reader.Send("GET /endless HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return sending && pool.WaitingIdleCount() == 2; }, 5000));
    const auto start = Clock::now();
    EXPECT_NO_THROW(s.server.SetActive(false));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(s.server.ConnectionCount(), 0u);
    for (tovi::testing::RawClient* c : {&silent, &partial}) EXPECT_TRUE(c->WaitClosed(2000));
    EXPECT_EQ(disconnects.load(), 7);
  }
  EXPECT_TRUE(WaitUntil([&] { return tovi::testing::ThreadCount() == threadsBefore; }, 5000))
      << tovi::testing::ThreadCount() << " threads, " << threadsBefore << " before";
}

// A body announced with GET or HEAD is never waited for: the request is answered at once and the
// connection closed after it. A POST body that has not all come waits without a thread.
TEST(ThreadPool, BodiesAreNotWaitedForOnAThread) {
  struct Case {
    const char* name;
    std::string request;
    const char* answer;  // the body expected; nullptr: none yet, the connection waits idle
  };
  const Case cases[] = {
      {"GET with a length", "GET /a HTTP/1.1\r\nContent-Length: 100000\r\n\r\nx", "/a"},
      {"GET with a coding", "GET /b HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n", "/b"},
      {"HEAD with a length", "HEAD /c HTTP/1.1\r\nContent-Length: 100000\r\n\r\n", ""},
      {"POST with a length", "POST /d HTTP/1.1\r\nContent-Length: 100000\r\n\r\nxyz", nullptr},
  };
  for (const Case& c : cases) {
    test::TestServer s;
    TNetThreadMgr& pool = StartPathEcho(s);
    tovi::testing::RawClient client(s.Port());
    ASSERT_TRUE(client.Send(c.request)) << c.name;
    if (c.answer) {
      const std::string got = client.ReadAll(3000);
      EXPECT_TRUE(client.PeerClosed()) << c.name;
      EXPECT_EQ(Body(got), c.answer) << c.name;
      EXPECT_NE(got.find("Connection: close"), std::string::npos) << c.name;
    } else {
      EXPECT_TRUE(WaitUntil([&] { return pool.WaitingIdleCount() == 1; }, 3000)) << c.name;
    }
  }
}

// However many connections one peer address has served at once, a second peer's request is
// run beside them: one device cannot take every served turn.
TEST(ThreadPool, OnePeerRunsAtMostItsShareOfTheServedTurns) {
  test::TestServer s;
  s.UsePool();
  TNetServerLimits limits;
  limits.maxServedConnections = 4;
  limits.maxServedPerPeer = 2;
  s.server.SetLimits(limits);
  std::atomic<int> blocked{0};
  std::atomic<bool> release{false};
  s.server.OnCommandGet = [&](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    if (q.RequestPath() == "/hold") {
      ++blocked;
      WaitUntil([&] { return release.load(); }, 20000);
    }
    r.SetBodyText("served " + q.RemoteAddress());
  };
  s.Start();
  std::vector<tovi::testing::RawClient> holders(4);
  for (auto& h : holders) {
    ASSERT_TRUE(h.Connect(s.Port()));
    ASSERT_TRUE(h.Send("GET /hold HTTP/1.1\r\n\r\n"));
  }
  ASSERT_TRUE(WaitUntil([&] { return blocked == 2; }, 5000));
  tovi::testing::RawClient other;
  ASSERT_TRUE(other.Connect(s.Port(), 5000, 2));
  ASSERT_TRUE(other.Send("GET /quick HTTP/1.1\r\n\r\n"));
  EXPECT_EQ(Body(other.ReadAll(3000)), "served 127.0.0.2");
  EXPECT_EQ(blocked.load(), 2) << "the peer ran more than its share";
  release = true;
  for (auto& h : holders) EXPECT_EQ(Body(h.ReadAll(5000)), "served 127.0.0.1");
}

// The connection bounds the open-file limit leaves: never zero, the configured ones where the
// limit allows them (a peer's share of those waiting lowered with their bound), and a switch-on
// that says so when it is too low to serve at all.
TEST(ThreadPool, ConnectionBoundsFollowTheOpenFileLimit) {
  struct Case {
    std::size_t handles;
    std::size_t served, idle, idlePerPeer;  // 0, 0, 0: refused
  };
  const Case cases[] = {
      {1u << 20, 256, 4096, 1024}, {1024, 256, 448, 112}, {500, 145, 146, 36},
      {67, 1, 1, 1},               {66, 0, 0, 0},         {0, 0, 0, 0},
  };
  const TNetServerLimits limits;
  for (const Case& c : cases) {
    if (c.served == 0) {
      try {
        HandleSharesFor(limits, c.handles);
        ADD_FAILURE() << c.handles << " handles were taken as enough";
      } catch (const ENetSocketError& e) {
        EXPECT_EQ(e.LastError(), 10024);
        EXPECT_EQ(std::string(e.what()),
                  "Too few open-file handles to serve: the system allows this program " +
                      std::to_string(c.handles) + ", the server needs at least 67.");
      }
      continue;
    }
    const TNetHandleShares shares = HandleSharesFor(limits, c.handles);
    EXPECT_EQ(shares.served, c.served) << c.handles;
    EXPECT_EQ(shares.idle, c.idle) << c.handles;
    EXPECT_EQ(shares.idlePerPeer, c.idlePerPeer) << c.handles;
  }
}

}  // namespace
}  // namespace tovi::http

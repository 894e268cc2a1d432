// The limits that keep one client from taking the server down.
#include <gtest/gtest.h>

#include <chrono>
#include <list>

#include "support/raw_client.h"
#include "http/server/test_server.h"

namespace tovi::http {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TNetServerLimits Quick() {
  TNetServerLimits l;
  l.requestHeadTimeoutMs = 300;
  l.bodyStallTimeoutMs = 300;
  l.sendStallTimeoutMs = 300;
  return l;
}

// Slow or incomplete heads and stalled bodies are closed unanswered once their time is up.
TEST(Limits, SlowHeadsAndStalledBodiesAreClosedWithoutAnswer) {
  struct Case {
    const char* name;
    std::string first;       // sent at once
    std::string dribble;     // then one byte every 50 ms
  };
  const Case cases[] = {
      {"nothing at all", "", ""},
      {"half a request line", "GET /a", ""},
      {"headers never end", "GET / HTTP/1.1\r\nHost: x\r\n", ""},
      {"a head dribbled byte by byte", "", "GET / HTTP/1.1\r\nX: aaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n"},
      {"a body that stops", "POST / HTTP/1.1\r\nContent-Length: 10\r\n\r\n12345", ""},
      {"a body without length that stops", "POST / HTTP/1.1\r\n\r\nabc", ""},
  };
  for (const Case& c : cases) {
    test::TestServer s;
    s.server.SetLimits(Quick());
    bool called = false;
    s.server.OnCommandGet = [&](auto&, auto&, auto&) { called = true; };
    s.Start();
    tovi::testing::RawClient client(s.Port());
    auto start = Clock::now();
    client.Send(c.first);
    for (char ch : c.dribble) {
      if (!client.Send(std::string(1, ch))) break;
      std::this_thread::sleep_for(50ms);
    }
    std::string got;
    EXPECT_TRUE(client.WaitClosed(5000, &got)) << c.name;
    EXPECT_EQ(got, "") << c.name;
    EXPECT_GE(Clock::now() - start, 250ms) << c.name;
    EXPECT_FALSE(called) << c.name;
    ASSERT_TRUE(s.WaitIdle()) << c.name;
    auto ex = s.Exceptions();
    ASSERT_EQ(ex.size(), 1u) << c.name;
    EXPECT_EQ(ex[0], "Read Timeout") << c.name;
  }
}

TEST(Limits, ARequestHeadInTimeIsServed) {
  test::TestServer s;
  s.server.SetLimits(Quick());
  s.server.OnCommandGet = [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("in time"); };
  s.Start();
  tovi::testing::RawClient client(s.Port());
  client.Send("GET / HTTP/1.1\r\n");
  std::this_thread::sleep_for(100ms);
  client.Send("\r\n");
  EXPECT_NE(client.ReadAll(3000).find("in time"), std::string::npos);
}

TEST(Limits, OversizedHeadsAndBodiesAreClosedWithoutAnswer) {
  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += "X-" + std::to_string(i) + ": v\r\n";
  std::string bigLines;
  for (int i = 0; i < 5; ++i) bigLines += "X-" + std::to_string(i) + ": " + std::string(14000, 'a') + "\r\n";
  // A head of `bytes` as the limit counts them: request line and header lines with their CR LF.
  auto headOf = [](std::size_t bytes) {
    std::string head = "GET / HTTP/1.1\r\n";
    for (int i = 0; head.size() < bytes; ++i) {  // "X-i: " and CR LF: 7 bytes besides the fill
      const std::size_t fill = std::min<std::size_t>(14000, bytes - head.size() - 7);
      head += "X-" + std::to_string(i) + ": " + std::string(fill, 'a') + "\r\n";
    }
    return head + "\r\n";
  };
  struct Case {
    const char* name;
    std::string request;
    bool served;
    const char* exception;
  };
  const Case cases[] = {
      {"100 header lines", "GET / HTTP/1.1\r\n" + hundred + "\r\n", true, nullptr},
      {"101 header lines", "GET / HTTP/1.1\r\n" + hundred + "X: 1\r\n\r\n", false,
       "Request head too large."},
      {"a head over 64 KiB", "GET / HTTP/1.1\r\n" + bigLines + "\r\n", false,
       "Request head too large."},
      {"a head of 64 KiB", headOf(64 * 1024), true, nullptr},
      {"a head of 64 KiB and a byte", headOf(64 * 1024 + 1), false, "Request head too large."},
      {"a body announced over 16 MiB", "POST / HTTP/1.1\r\nContent-Length: 16777217\r\n\r\nab",
       false, "Request body too large."},
      {"a 64-bit body length", "POST / HTTP/1.1\r\nContent-Length: 5000000000\r\n\r\n", false,
       "Request body too large."},
  };
  for (const Case& c : cases) {
    test::TestServer s;
    bool called = false;
    s.server.OnCommandGet = [&](auto&, auto&, TNetHTTPResponseInfo& r) {
      called = true;
      r.SetBodyText("served");
    };
    s.Start();
    tovi::testing::RawClient client(s.Port());
    client.Send(c.request);
    std::string got;
    EXPECT_TRUE(client.WaitClosed(5000, &got)) << c.name;
    EXPECT_EQ(got.find("served") != std::string::npos, c.served) << c.name;
    if (!c.served) {
      EXPECT_EQ(got, "") << c.name;
    }
    ASSERT_TRUE(s.WaitIdle());
    EXPECT_EQ(called, c.served) << c.name;
    if (c.exception) {
      auto ex = s.Exceptions();
      ASSERT_EQ(ex.size(), 1u) << c.name;
      EXPECT_EQ(ex[0], c.exception) << c.name;
    }
  }
}

TEST(Limits, BodiesUpToTheLimitPassAndOneByteMoreDoesNot) {
  for (bool counted : {true, false}) {
    for (std::size_t size : {1000u, 1001u}) {
      test::TestServer s;
      TNetServerLimits l;
      l.maxRequestBodyBytes = 1000;
      s.server.SetLimits(l);
      std::atomic<std::size_t> seen{0};
      s.server.OnCommandGet = [&](auto&, TNetHTTPRequestInfo& q, auto&) {
        seen = q.FormText().size();
      };
      s.Start();
      tovi::testing::RawClient client(s.Port());
      std::string head = counted ? "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(size) +
                                       "\r\n\r\n"
                                 : "POST / HTTP/1.1\r\n\r\n";
      client.Send(head + std::string(size, 'b'));
      if (!counted) client.ShutdownSend();
      std::string got = client.ReadAll(5000);
      s.WaitIdle();
      EXPECT_EQ(seen.load(), size <= 1000 ? size : 0u) << size << " counted " << counted;
      EXPECT_EQ(got.empty(), size > 1000) << size << " counted " << counted;
    }
  }
}

TEST(Limits, AStalledReaderFreesItsThread) {
  test::TestServer s;
  s.server.SetLimits(Quick());
  s.server.OnCommandGet = [](TNetPeerThread& t, auto&, TNetHTTPResponseInfo& r) {
    r.SetContentLength(256ll << 20);
    r.SendHeaders();
    std::string chunk(1 << 20, 'v');
    for (int i = 0; i < 256; ++i) t.Connection().Write(chunk);
  };
  s.Start();
  tovi::testing::RawClient client(s.Port());
  client.Send("GET /film HTTP/1.1\r\n\r\n");
  auto start = Clock::now();
  while (s.server.ConnectionCount() == 0 && Clock::now() - start < 5s) {
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(s.server.ConnectionCount(), 1u);
  // The client reads nothing more: the thread must end by itself.
  EXPECT_TRUE(s.WaitIdle(30000));
  EXPECT_GE(Clock::now() - start, 250ms);
  // The time-out came after the headers: the connection is just closed, nothing more written.
  EXPECT_EQ(s.Exceptions(), std::vector<std::string>{});
}

TEST(Limits, AtMost256ConnectionsAreServedAtOnce) {
  test::TestServer s;
  s.server.OnCommandGet = [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("served"); };
  s.Start();
  std::list<tovi::testing::RawClient> idle;
  // Generous: under wine a connection thread takes some 50 ms to start.
  auto until = Clock::now() + 120s;
  // In small batches, so the listen queue never overflows into SYN retries.
  for (int i = 0; i < 256; ++i) {
    idle.emplace_back(s.Port());
    while (s.server.ConnectionCount() + 4 <= static_cast<std::size_t>(i) && Clock::now() < until) {
      std::this_thread::sleep_for(1ms);
    }
  }
  while (s.server.ConnectionCount() < 256 && Clock::now() < until) std::this_thread::sleep_for(5ms);
  ASSERT_EQ(s.server.ConnectionCount(), 256u);
  tovi::testing::RawClient refused(s.Port());
  std::string got;
  EXPECT_TRUE(refused.WaitClosed(3000, &got));
  EXPECT_EQ(got, "");
  idle.front().Send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_NE(idle.front().ReadAll(3000).find("served"), std::string::npos);
  idle.pop_front();
  until = Clock::now() + 5s;
  while (s.server.ConnectionCount() > 255 && Clock::now() < until) std::this_thread::sleep_for(5ms);
  tovi::testing::RawClient next(s.Port());
  next.Send("GET / HTTP/1.1\r\n\r\n");
  EXPECT_NE(next.ReadAll(3000).find("served"), std::string::npos);
}

// The product's values: every test above runs with short limits of the same kind, so this is
// where a changed default shows.
TEST(Limits, DefaultsAreTheProductValues) {
  const TNetServerLimits l = TNetHTTPServer().Limits();
  EXPECT_EQ(l.requestHeadTimeoutMs, 30000);
  EXPECT_EQ(l.bodyStallTimeoutMs, 30000);
  EXPECT_EQ(l.sendStallTimeoutMs, 120000);
  EXPECT_EQ(l.maxServedConnections, 256);
  EXPECT_EQ(l.maxIdleConnections, 4096);
  EXPECT_EQ(l.maxHeaderLines, 100);
  EXPECT_EQ(l.maxRequestHeadBytes, 64u * 1024);
  EXPECT_EQ(l.maxRequestBodyBytes, 16 * 1024 * 1024);
}

}  // namespace
}  // namespace tovi::http

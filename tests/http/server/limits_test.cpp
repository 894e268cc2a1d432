// The limits that keep one client from taking the server down.
#include <gtest/gtest.h>

#include <chrono>
#include <atomic>
#include <list>
#include <string_view>

#include "platform/process.h"
#include "support/build.h"
#include "support/process_counts.h"
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

// A body that keeps coming a byte at a time, never pausing long, ends at its total time, on a
// thread of its own or waiting without one.
TEST(Limits, ABodyTrickledPastItsTotalTimeIsClosedWithoutAnswer) {
  for (bool pool : {false, true}) {
    test::TestServer s;
    if (pool) s.UsePool();
    TNetServerLimits l = Quick();
    l.bodyTotalTimeoutMs = 600;
    s.server.SetLimits(l);
    bool called = false;
    s.server.OnCommandGet = [&](auto&, auto&, auto&) { called = true; };
    s.Start();
    tovi::testing::RawClient client(s.Port());
    const auto start = Clock::now();
    client.Send("POST / HTTP/1.1\r\nContent-Length: 1000\r\n\r\n");
    std::string got;
    bool closed = false;
    // One byte per 50 ms, far within the 300 ms pause allowed; 200 of them would take 10 s.
    for (int i = 0; i < 200 && !closed; ++i) {
      closed = !client.Send("b") || client.WaitClosed(50, &got);
    }
    EXPECT_TRUE(closed) << "pool " << pool;
    EXPECT_LT(Clock::now() - start, 5s) << "pool " << pool;
    EXPECT_EQ(got, "") << "pool " << pool;
    EXPECT_FALSE(called) << "pool " << pool;
    ASSERT_TRUE(s.WaitIdle()) << "pool " << pool;
    EXPECT_EQ(s.Exceptions(), std::vector<std::string>{"Read Timeout"}) << "pool " << pool;
  }
}

// Bodies held at once share one bound: past it a body is refused, and what an answered body
// held is free again for the next.
TEST(Limits, BodiesTogetherHoldAtMostTheirBound) {
  for (bool pool : {false, true}) {
    test::TestServer s;
    if (pool) s.UsePool();
    TNetServerLimits l;
    l.maxBodyBytesHeld = 1000000;
    s.server.SetLimits(l);
    std::atomic<int> served{0};
    s.server.OnCommandGet = [&](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
      ++served;
      r.SetBodyText(std::to_string(q.FormText().size()));
    };
    s.Start();
    auto post = [](std::size_t length) {
      return "POST / HTTP/1.1\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    };
    tovi::testing::RawClient first(s.Port());
    ASSERT_TRUE(first.Send(post(700000) + std::string(600000, 'a')));
    ASSERT_TRUE(tovi::testing::WaitUntil([&] { return s.server.BodyBytesHeld() == 700000; }, 5000))
        << "pool " << pool;
    tovi::testing::RawClient second(s.Port());
    second.Send(post(600000) + std::string(600000, 'b'));
    std::string got;
    EXPECT_TRUE(second.WaitClosed(5000, &got)) << "pool " << pool;
    EXPECT_EQ(got, "") << "pool " << pool;
    ASSERT_TRUE(first.Send(std::string(100000, 'a')));
    EXPECT_NE(first.ReadAll(5000).find("\r\n\r\n700000"), std::string::npos) << "pool " << pool;
    tovi::testing::RawClient third(s.Port());
    third.Send(post(600000) + std::string(600000, 'c'));
    EXPECT_NE(third.ReadAll(5000).find("\r\n\r\n600000"), std::string::npos) << "pool " << pool;
    EXPECT_EQ(served.load(), 2) << "pool " << pool;
    EXPECT_TRUE(tovi::testing::WaitUntil([&] { return s.server.BodyBytesHeld() == 0; }, 5000))
        << "pool " << pool;
  }
}

// Bodies held from their heads on, however slowly they come: one device's fill its own share
// and leave another device room for its own.
TEST(Limits, OneDevicesBodiesLeaveAnotherRoom) {
  for (bool pool : {false, true}) {
    test::TestServer s;
    if (pool) s.UsePool();
    TNetServerLimits l;
    l.maxBodyBytesHeld = 1000000;
    l.maxBodyBytesHeldPerPeer = 500000;
    s.server.SetLimits(l);
    s.server.OnCommandGet = [&](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
      r.SetBodyText(std::to_string(q.FormText().size()));
    };
    s.Start();
    const std::string post = "POST / HTTP/1.1\r\nContent-Length: 400000\r\n\r\n";
    tovi::testing::RawClient first(s.Port());
    ASSERT_TRUE(first.Send(post));
    ASSERT_TRUE(tovi::testing::WaitUntil([&] { return s.server.BodyBytesHeld() == 400000; }, 5000))
        << "pool " << pool;
    tovi::testing::RawClient again(s.Port());
    again.Send(post);
    EXPECT_TRUE(again.WaitClosed(5000)) << "pool " << pool;
    tovi::testing::RawClient other;
    ASSERT_TRUE(other.Connect(s.Port(), 5000, 2));
    ASSERT_TRUE(other.Send(post + std::string(400000, 'b')));
    EXPECT_NE(other.ReadAll(5000).find("\r\n\r\n400000"), std::string::npos) << "pool " << pool;
  }
}

// A head that comes a byte at a time is looked at once in all, not again at every byte.
TEST(Limits, AHeadTrickledByteByByteIsLookedAtOnce) {
  std::string head = "POST /upload HTTP/1.1\r\nContent-Length: 12\r\n";
  for (int i = 0; head.size() < 60000; ++i) {
    head += "X-" + std::to_string(i) + ": " + std::string(600, 'v') + "\r\n";
  }
  head += "\r\n";
  const TNetHeadBounds bounds{16384, 100, 64 * 1024};
  TNetHeadScan scan;
  std::string in;
  for (char c : head) {
    in += c;
    const bool last = in.size() == head.size();
    ASSERT_EQ(scan.Scan(in, bounds, [](const TNetRequestLine&) { return true; }),
              last ? TNetHeadScan::State::Complete : TNetHeadScan::State::Incomplete);
  }
  EXPECT_EQ(scan.HeadBytes(), head.size());
  EXPECT_EQ(scan.ContentLength(), 12);
  EXPECT_LE(scan.BytesExamined(), head.size());
}

// Heads that never ended give their memory back to the system when their peers leave, not at
// the next connection (if one comes), and not only to the allocator.
TEST(Limits, HeadsThatNeverEndedGiveTheirMemoryBack) {
  using tovi::testing::ResidentBytes;
  if (tovi::testing::kSanitized) GTEST_SKIP() << "sanitizers keep freed memory aside";
  if (ResidentBytes() < 0) GTEST_SKIP() << "resident memory is not measured here";
  ASSERT_TRUE(tovi::testing::RaiseOpenHandleLimit(2048));
  test::TestServer s;
  s.UsePool();
  s.server.OnCommandGet = [](auto&, auto&, auto&) {};
  s.Start();
  std::string head = "GET / HTTP/1.1\r\n";
  while (head.size() < 60000) head += "X-Pad: " + std::string(1000, 'p') + "\r\n";
  // What earlier tests freed goes back first: heads put in memory the allocator kept would
  // not show as growth.
  process::ReturnFreeMemory();
  const long before = ResidentBytes();
  {
    std::list<tovi::testing::RawClient> peers;
    for (int i = 0; i < 400; ++i) ASSERT_TRUE(peers.emplace_back(s.Port()).Send(head));
    // The heads are in: what the check below would miss otherwise.
    EXPECT_TRUE(tovi::testing::WaitUntil([&] { return ResidentBytes() - before > (20l << 20); },
                                         10000));
  }
  ASSERT_TRUE(s.WaitIdle(10000));
  EXPECT_LT(ResidentBytes() - before, 12l << 20);
}

}  // namespace
}  // namespace tovi::http

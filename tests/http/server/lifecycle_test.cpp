// Switching the server on and off, bindings, connection threads and their events.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>

#include "http/exceptions.h"
#include "support/raw_client.h"
#include "http/server/test_server.h"
#include "platform/files.h"

namespace tovi::http {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(Activation, ReportsBindFailuresAndStaysInactive) {
  test::TestServer busy;
  busy.server.OnCommandGet = [](auto&, auto&, auto&) {};
  busy.Start();
  const int taken = busy.Port();

  {  // No bindings: one is added with DefaultPort and every address (in use here).
    auto owned = std::make_shared<TNetHTTPServer>();
    TNetHTTPServer& server = *owned;
    server.SetDefaultPort(taken);
    try {
      server.SetActive(true);
      FAIL() << "bound a port in use";
    } catch (const ENetCouldNotBindSocket& e) {
      EXPECT_STREQ(e.what(), "Could not bind socket. Address and port are already in use.");
    }
    EXPECT_FALSE(server.Active());
    ASSERT_EQ(server.Bindings().Count(), 1u);
    EXPECT_EQ(server.Bindings()[0].IP(), "");
    EXPECT_EQ(server.Bindings()[0].Port(), taken);
  }
  {  // A failing second binding: inactive, and the first one's listener is gone too.
    auto owned = std::make_shared<TNetHTTPServer>();
    TNetHTTPServer& server = *owned;
    server.OnCommandGet = [](auto&, auto&, auto&) {};
    TNetSocketHandle& first = server.Bindings().Add();
    first.SetIP("127.0.0.1");
    first.SetPort(0);
    TNetSocketHandle& second = server.Bindings().Add();
    second.SetIP("127.0.0.1");
    second.SetPort(taken);
    EXPECT_THROW(server.SetActive(true), ENetCouldNotBindSocket);
    EXPECT_FALSE(server.Active());
    ASSERT_NE(first.Port(), 0);  // read back from the socket after the bind
    tovi::testing::RawClient probe;
    EXPECT_FALSE(probe.Connect(static_cast<std::uint16_t>(first.Port())));
  }
  {  // A binding address that is not a number.
    auto owned = std::make_shared<TNetHTTPServer>();
    TNetHTTPServer& server = *owned;
    server.Bindings().Add().SetIP("127.0.0.x");
    EXPECT_THROW(server.SetActive(true), std::invalid_argument);
    EXPECT_FALSE(server.Active());
  }
}

TEST(Activation, TwiceOpensOnceAndTheServerCanBeSwitchedOnAgain) {
  test::TestServer s;
  s.server.OnCommandGet = [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("up"); };
  s.Start();
  s.server.SetActive(true);
  EXPECT_TRUE(s.server.Active());
  const std::uint16_t port = s.Port();
  EXPECT_NE(tovi::testing::ExchangeBytes(port, "GET / HTTP/1.1\r\n\r\n").find("up"), std::string::npos);
  s.server.SetActive(false);
  tovi::testing::RawClient refused;
  EXPECT_FALSE(refused.Connect(port));
  // The same port again, although the last connection may linger on it.
  s.server.SetActive(true);
  EXPECT_EQ(s.Port(), port);
  EXPECT_NE(tovi::testing::ExchangeBytes(port, "GET / HTTP/1.1\r\n\r\n").find("up"), std::string::npos);
}

TEST(Deactivation, TakesOnePollWhenIdleAndTimesOutBelowOnePoll) {
  test::TestServer s;
  s.server.OnCommandGet = [](auto&, auto&, auto&) {};
  s.Start();
  auto start = Clock::now();
  s.server.SetActive(false);
  auto took = Clock::now() - start;
  EXPECT_GE(took, 240ms);
  EXPECT_LT(took, 2s);

  s.Start();
  s.server.SetTerminateWaitTime(249);
  try {
    s.server.SetActive(false);
    FAIL() << "no time-out";
  } catch (const ENetTerminateThreadTimeout& e) {
    EXPECT_STREQ(e.what(), "Terminate Thread Timeout");
  }
  EXPECT_TRUE(s.server.Active());
  tovi::testing::RawClient stopped;
  EXPECT_FALSE(stopped.Connect(s.Port()));  // the listeners are stopped all the same
  s.server.SetTerminateWaitTime(5000);
  s.server.SetActive(false);
  EXPECT_FALSE(s.server.Active());
}

TEST(Deactivation, ClosesAConnectionThatNeverSentAnything) {
  test::TestServer s;
  s.server.OnCommandGet = [](auto&, auto&, auto&) {};
  s.Start();
  tovi::testing::RawClient idle(s.Port());
  ASSERT_TRUE(tovi::testing::WaitUntil([&] { return s.server.ConnectionCount() == 1; }, 5000));
  auto start = Clock::now();
  s.server.SetActive(false);
  EXPECT_LT(Clock::now() - start, 2s);
  std::string got;
  EXPECT_TRUE(idle.WaitClosed(2000, &got));
  EXPECT_EQ(got, "");
  EXPECT_EQ(s.server.ConnectionCount(), 0u);
}

TEST(Deactivation, EndsConnectionsBlockedInASendOrAReadAtOnce) {
  // Larger than any socket buffer: a reader that stopped leaves the send blocked.
  const std::string path = ::testing::TempDir() + "tovi_switch_off.bin";
  const std::uint64_t size = 64u << 20;
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(size - 1));
    out.put('e');
  }
  fs::ReadOnlyFile file(path);
  struct Case {
    const char* what;
    std::string request;
  };
  const Case cases[] = {
      {"writes to a reader that stopped", "GET /write HTTP/1.1\r\n\r\n"},
      {"a file range to a reader that stopped", "GET /file HTTP/1.1\r\n\r\n"},
      {"a request body that stopped", "POST /x HTTP/1.1\r\nContent-Length: 1000\r\n\r\nabc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TestServer s;
    std::atomic<bool> sending{false};
    s.server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& rq,
                                TNetHTTPResponseInfo& rs) {
      rs.SendHeaders();
      sending = true;
      if (rq.RequestPath() == "/file") t.Connection().WriteFileRange(file.NativeHandle(), 0, size);
      const std::string chunk(1 << 20, 'w');
      for (int i = 0; i < 64; ++i) t.Connection().Write(chunk);
    };
    s.Start();
    tovi::testing::RawClient client(s.Port());
    ASSERT_TRUE(client.Send(c.request));
    ASSERT_TRUE(tovi::testing::WaitUntil([&] { return sending || c.request[0] == 'P'; }, 5000));
    ASSERT_TRUE(tovi::testing::WaitUntil([&] { return s.server.ConnectionCount() == 1; }, 5000));
    const auto start = Clock::now();
    EXPECT_NO_THROW(s.server.SetActive(false));
    EXPECT_LT(Clock::now() - start, 2s);
    EXPECT_EQ(s.server.ConnectionCount(), 0u);
  }
  std::remove(path.c_str());
}

TEST(Deactivation, AThreadOutlastingTheSwitchOffKeepsItsServerWhileThePortServesAgain) {
  std::mutex lock;
  std::condition_variable released;
  bool release = false;
  std::atomic<bool> inHandler{false};
  auto stuck = std::make_shared<TNetHTTPServer>();
  TNetSocketHandle& binding = stuck->Bindings().Add();
  binding.SetIP("127.0.0.1");
  binding.SetPort(0);
  stuck->SetTerminateWaitTime(300);
  // A handler that does not notice the switch-off (as a slow disk or name lookup would not).
  stuck->OnCommandGet = [&](auto&, auto&, TNetHTTPResponseInfo& r) {
    inHandler = true;
    std::unique_lock<std::mutex> guard(lock);
    released.wait_for(guard, 10s, [&] { return release; });
    r.SetBodyText("late");
  };
  stuck->SetActive(true);
  const auto port = static_cast<std::uint16_t>(binding.Port());
  tovi::testing::RawClient client(port);
  ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
  ASSERT_TRUE(tovi::testing::WaitUntil([&] { return inHandler.load(); }, 5000));
  EXPECT_THROW(stuck->SetActive(false), ENetTerminateThreadTimeout);

  std::weak_ptr<TNetHTTPServer> watch = stuck;
  const auto start = Clock::now();
  stuck.reset();  // the owner's last reference: no wait for the thread
  EXPECT_LT(Clock::now() - start, 1s);
  EXPECT_FALSE(watch.expired()) << "freed under its connection thread";

  auto again = std::make_shared<TNetHTTPServer>();
  TNetSocketHandle& same = again->Bindings().Add();
  same.SetIP("127.0.0.1");
  same.SetPort(port);
  again->OnCommandGet = [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("again"); };
  ASSERT_NO_THROW(again->SetActive(true));
  EXPECT_NE(tovi::testing::ExchangeBytes(port, "GET / HTTP/1.1\r\n\r\n").find("again"), std::string::npos);

  {
    std::lock_guard<std::mutex> guard(lock);
    release = true;
  }
  released.notify_all();
  EXPECT_TRUE(tovi::testing::WaitUntil([&] { return watch.expired(); }, 5000))
      << "the last thread did not free it";
  again->SetActive(false);
}

TEST(Connections, MaxConnectionsRefusesTheThirdWithItsReply) {
  for (bool withReply : {false, true}) {
    test::TestServer s;
    s.server.SetMaxConnections(2);
    if (withReply) s.server.MaxConnectionReply().SetReply(503, {"busy"});
    s.server.OnCommandGet = [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("served"); };
    s.Start();
    tovi::testing::RawClient a(s.Port()), b(s.Port());
    ASSERT_TRUE(tovi::testing::WaitUntil([&] { return s.server.ConnectionCount() == 2; }, 5000));
    tovi::testing::RawClient third(s.Port());
    std::string got;
    EXPECT_TRUE(third.WaitClosed(3000, &got));
    EXPECT_EQ(got, withReply ? "503 busy\r\n" : "");
    a.Send("GET / HTTP/1.1\r\n\r\n");
    EXPECT_NE(a.ReadAll(3000).find("served"), std::string::npos);
    ASSERT_TRUE(tovi::testing::WaitUntil([&] { return s.server.ConnectionCount() == 1; }, 5000));
    tovi::testing::RawClient fourth(s.Port());
    fourth.Send("GET / HTTP/1.1\r\n\r\n");
    EXPECT_NE(fourth.ReadAll(3000).find("served"), std::string::npos);
  }
}

TEST(Connections, GreetingConnectAndDisconnectComeInOrder) {
  test::TestServer s;
  std::mutex lock;
  std::vector<std::string> events;
  auto note = [&](const std::string& e) {
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(e);
  };
  s.server.Greeting().SetReply(0, {"hello", "there"});
  s.server.OnConnect = [&](TNetPeerThread& t) {
    note("connect " + t.Connection().Binding().PeerIP());
  };
  s.server.OnDisconnect = [&](TNetPeerThread&) { note("disconnect"); };
  s.server.OnCommandGet = [&](auto&, auto&, auto&) { note("request"); };
  s.Start();
  tovi::testing::RawClient c(s.Port());
  EXPECT_EQ(c.ReadCount(14, 3000), "hello\r\nthere\r\n");
  c.Send("GET / HTTP/1.1\r\n\r\n");
  c.ReadAll(3000);
  ASSERT_TRUE(s.WaitIdle());
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(events, (std::vector<std::string>{"connect 127.0.0.1", "request", "disconnect"}));
}

TEST(Connections, AClientThatClosesAtOnceGetsNothing) {
  test::TestServer s;
  bool called = false;
  s.server.OnCommandGet = [&](auto&, auto&, auto&) { called = true; };
  s.Start();
  for (int i = 0; i < 20; ++i) {
    tovi::testing::RawClient c(s.Port());
    c.Close();
  }
  ASSERT_TRUE(s.WaitIdle());
  EXPECT_FALSE(called);
  for (const std::string& e : s.Exceptions()) EXPECT_EQ(e, "Connection Closed Gracefully.");
}

// A manager that cannot hand out threads: each connection is closed, the listener goes on.
class NoThreads : public TNetThreadMgrDefault {
 public:
  TNetPeerThread* GetThread(TNetTCPServer&, std::unique_ptr<TNetTCPServerConnection>) override {
    throw std::runtime_error("no threads left");
  }
};

TEST(Connections, AcceptFailuresGoToOnListenExceptionAndTheListenerGoesOn) {
  NoThreads mgr;
  test::TestServer s;
  s.server.SetThreadMgr(&mgr);
  std::mutex lock;
  std::vector<std::string> reported;
  s.server.OnListenException = [&](TNetListenerThread& l, const std::exception& e) {
    std::lock_guard<std::mutex> guard(lock);
    reported.push_back(std::string(e.what()) + " on " + l.Binding().IP());
  };
  s.server.OnCommandGet = [](auto&, auto&, auto&) {};
  s.Start();
  for (int i = 0; i < 2; ++i) {
    tovi::testing::RawClient c(s.Port());
    std::string got;
    EXPECT_TRUE(c.WaitClosed(3000, &got));
    EXPECT_EQ(got, "");
  }
  s.server.SetActive(false);
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(reported, (std::vector<std::string>{"no threads left on 127.0.0.1",
                                                "no threads left on 127.0.0.1"}));
}

// A socket handler that only lets every second connection through.
class EverySecond : public TNetServerIOHandlerSocket {
 public:
  net::SocketHandle Accept(TNetSocketHandle& listening, const std::function<bool()>& stopped,
                           net::Endpoint* peer) override {
    for (;;) {
      net::SocketHandle s = TNetServerIOHandlerSocket::Accept(listening, stopped, peer);
      if (s == net::kInvalidSocket || ++count % 2 == 0) return s;
      net::Close(s);
    }
  }
  std::atomic<int> count{0};
};

TEST(Connections, AnIOHandlerSetByTheCallerAccepts) {
  EverySecond handler;
  test::TestServer s;
  s.server.SetIOHandler(&handler);
  s.server.OnCommandGet = [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("via"); };
  s.Start();
  EXPECT_EQ(tovi::testing::ExchangeBytes(s.Port(), "GET / HTTP/1.1\r\n\r\n"), "");
  EXPECT_NE(tovi::testing::ExchangeBytes(s.Port(), "GET / HTTP/1.1\r\n\r\n").find("via"),
            std::string::npos);
  s.server.SetActive(false);
  EXPECT_EQ(handler.count.load(), 2);
}

TEST(ReplyTexts, AreFormattedByCodeAndLines) {
  struct Case {
    int code;
    std::vector<std::string> lines;
    const char* text;
  };
  const Case cases[] = {
      {0, {}, ""},
      {0, {"a", "b"}, "a\r\nb\r\n"},
      {220, {}, "220\r\n"},
      {220, {"one"}, "220 one\r\n"},
      {220, {"one", "two", "three"}, "220-one\r\n220-two\r\n220 three\r\n"},
  };
  for (const Case& c : cases) {
    TNetReplyText r;
    r.SetReply(c.code, c.lines);
    EXPECT_EQ(r.FormattedReply(), c.text);
    EXPECT_EQ(r.IsEmpty(), std::string(c.text).empty());
  }
}

TEST(BareTcpServer, RunsOnExecuteAndReportsAMissingOne) {
  auto ownedEcho = std::make_shared<TNetTCPServer>();
  TNetTCPServer& echo = *ownedEcho;
  TNetSocketHandle& b = echo.Bindings().Add();
  b.SetIP("127.0.0.1");
  echo.OnExecute = [](TNetPeerThread& t) {
    std::string line = t.Connection().ReadLn();
    t.Connection().WriteLn("echo " + line);
  };
  echo.SetActive(true);
  tovi::testing::RawClient c(static_cast<std::uint16_t>(b.Port()));
  c.Send("one\r\ntwo\r\n");
  EXPECT_EQ(c.ReadCount(20, 3000), "echo one\r\necho two\r\n");
  c.Close();
  echo.SetActive(false);

  auto ownedNone = std::make_shared<TNetTCPServer>();
  TNetTCPServer& none = *ownedNone;
  std::mutex lock;
  std::string reported;
  TNetSocketHandle& nb = none.Bindings().Add();
  nb.SetIP("127.0.0.1");
  none.OnException = [&](TNetPeerThread&, const std::exception& e) {
    std::lock_guard<std::mutex> guard(lock);
    reported = e.what();
  };
  none.SetActive(true);
  tovi::testing::RawClient d(static_cast<std::uint16_t>(nb.Port()));
  EXPECT_TRUE(d.WaitClosed(3000));
  none.SetActive(false);
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(reported, "No execute handler found.");
}

}  // namespace
}  // namespace tovi::http

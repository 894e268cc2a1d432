#include "http/connection.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <thread>
#include <variant>

#include "http/exceptions.h"
#include "support/raw_client.h"
#include "platform/files.h"

namespace tovi::http {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A connection accepted from a RawClient on 127.0.0.1.
struct Pair {
  tovi::testing::RawClient client;
  TNetTCPConnection connection;

  Pair() {
    net::Startup();
    net::SocketHandle listener = net::OpenStream();
    net::Endpoint local;
    local.address[0] = 127;
    local.address[3] = 1;
    EXPECT_EQ(net::Bind(listener, local), 0);
    EXPECT_EQ(net::Listen(listener, 1), 0);
    net::LocalEndpoint(listener, &local);
    EXPECT_TRUE(client.Connect(local.port));
    connection.Attach(net::Accept(listener, nullptr));
    net::Close(listener);
  }
};

// What ReadLn gives, or the class of what it raised.
std::string ReadLnOutcome(TNetTCPConnection& c) {
  try {
    return "line:" + c.ReadLn();
  } catch (const ENetReadLnMaxLineLengthExceeded&) {
    return "max-line";
  } catch (const ENetConnClosedGracefully&) {
    return "closed";
  } catch (const ENetReadTimeout&) {
    return "timeout";
  }
}

struct LineCase {
  std::string sent;
  bool closeAfter;
  std::vector<std::string> outcomes;
};

TEST(ConnectionReadLn, SplitsAtLfAndHandlesClosesAndLongLines) {
  const std::string k16384(16384, 'x');
  const LineCase cases[] = {
      {"abc\r\ndef\n", true, {"line:abc", "line:def", "closed"}},
      {"a\rb\n", true, {"line:a\rb", "closed"}},                  // a lone CR stays
      {"abc\r\r\n", true, {"line:abc\r", "closed"}},             // only one CR is dropped
      {"\r\n\n", true, {"line:", "line:", "closed"}},
      {"tail", true, {"line:", "closed"}},                        // cut-off rest: empty line
      {"", true, {"closed"}},
      {k16384 + "\n", true, {"line:" + k16384, "closed"}},
      {k16384.substr(1) + "\r\n", true, {"line:" + k16384.substr(1), "closed"}},
      {k16384 + "\r\n", false, {"max-line"}},                     // the CR counts
      {k16384 + "y", false, {"max-line"}},                        // no LF in sight
  };
  for (const LineCase& c : cases) {
    Pair p;
    ASSERT_TRUE(p.client.Send(c.sent));
    if (c.closeAfter) p.client.ShutdownSend();
    p.connection.SetReadTimeout(2000);
    for (const std::string& expected : c.outcomes) {
      EXPECT_EQ(ReadLnOutcome(p.connection), expected) << c.sent.substr(0, 20);
    }
  }
}

TEST(ConnectionReads, TimeOutExactCountsAndClosedStates) {
  {
    Pair p;
    p.connection.SetReadTimeout(200);
    auto start = Clock::now();
    EXPECT_EQ(ReadLnOutcome(p.connection), "timeout");
    EXPECT_GE(Clock::now() - start, 150ms);
  }
  {
    Pair p;
    p.connection.SetReadDeadline(Clock::now() + 200ms);
    p.client.Send("partial");
    EXPECT_EQ(ReadLnOutcome(p.connection), "timeout");
  }
  {
    Pair p;
    p.client.Send("0123456789");
    p.client.ShutdownSend();
    EXPECT_EQ(p.connection.ReadString(4), "0123");
    std::string rest;
    EXPECT_THROW(p.connection.ReadBytes(rest, 10), ENetConnClosedGracefully);
  }
  {
    TNetTCPConnection never;
    EXPECT_THAT([&] { never.ReadLn(); },
                ::testing::ThrowsMessage<ENetClosedSocket>(::testing::StrEq("Disconnected.")));
    EXPECT_THAT([&] { never.Write("x"); },
                ::testing::ThrowsMessage<ENetNotConnected>(::testing::StrEq("Not Connected")));
    EXPECT_FALSE(never.Connected());
  }
  {
    Pair p;
    p.connection.EndConnection();
    EXPECT_TRUE(p.connection.ClosedGracefully());
    EXPECT_THROW(p.connection.Write("x"), ENetConnClosedGracefully);
    EXPECT_THROW(p.connection.ReadLn(), ENetConnClosedGracefully);
    p.connection.EndConnection();  // again: nothing more
    EXPECT_TRUE(p.client.WaitClosed(2000));
  }
}

TEST(ConnectionReads, ReadUntilCloseIntoAStream) {
  Pair p;
  std::string big(100000, 'q');
  std::thread writer([&] {
    p.client.Send(big);
    p.client.ShutdownSend();
  });
  TStringStream s;
  p.connection.ReadStream(s, -1);
  writer.join();
  EXPECT_EQ(s.DataString(), big);
}

TEST(ConnectionAbort, WakesABlockedReadFromAnotherThread) {
  Pair p;
  std::string outcome;
  auto start = Clock::now();
  std::thread reader([&] { outcome = ReadLnOutcome(p.connection); });
  std::this_thread::sleep_for(100ms);
  p.connection.Abort();
  reader.join();
  EXPECT_EQ(outcome, "closed");
  EXPECT_LT(Clock::now() - start, 3s);
  EXPECT_FALSE(p.connection.Connected());
  EXPECT_TRUE(p.client.WaitClosed(2000));
}

TEST(ConnectionWrites, BufferThresholdAndLines) {
  Pair p;
  p.connection.OpenWriteBuffer();
  p.connection.Write("held ");
  p.connection.WriteLn("back");
  EXPECT_EQ(p.client.ReadAll(150), "");  // nothing before the buffer closes
  p.connection.CloseWriteBuffer();
  EXPECT_EQ(p.client.ReadCount(11, 2000), "held back\r\n");
  p.connection.CloseWriteBuffer();  // none open: nothing happens

  p.connection.OpenWriteBuffer(4);
  p.connection.Write("ab");
  EXPECT_EQ(p.client.ReadAll(100), "");
  p.connection.Write("cd");  // reaches the threshold
  EXPECT_EQ(p.client.ReadCount(4, 2000), "abcd");
  p.connection.CloseWriteBuffer();
  p.connection.Write("");
  p.connection.EndConnection();
  EXPECT_EQ(p.client.ReadAll(2000), "");
}

struct StreamCase {
  bool fromStart, countPrefix;
  std::int64_t startAt, size;
  std::string expected;
  bool noData;
};

TEST(ConnectionWrites, StreamsFromPositionWithPrefixAndShortSources) {
  const StreamCase cases[] = {
      {true, false, 5, 0, "0123456789", false},
      {false, false, 5, 0, "56789", false},
      {false, false, 2, 3, "234", false},
      {true, true, 0, 0, std::string("\0\0\0\x0a", 4) + "0123456789", false},
      {false, false, 5, -3, "", false},      // an end before the position writes nothing
      {false, false, 8, 5, "89", true},      // the stream ends early
  };
  for (const StreamCase& c : cases) {
    Pair p;
    TStringStream s("0123456789");
    s.SetPosition(c.startAt);
    bool raised = false;
    try {
      p.connection.WriteStream(s, c.fromStart, c.countPrefix, c.size);
    } catch (const ENetNoDataToRead&) {
      raised = true;
    }
    p.connection.EndConnection();
    EXPECT_EQ(p.client.ReadAll(2000), c.expected);
    EXPECT_EQ(raised, c.noData);
  }
}

TEST(ConnectionWrites, FileRangesGoStraightFromTheFile) {
  std::string path = ::testing::TempDir() + "tovi_range_test.bin";
  std::string content;
  for (int i = 0; i < 300000; ++i) content += static_cast<char>('a' + i % 26);
  {
    std::ofstream out(path, std::ios::binary);
    out << content;
  }
  fs::ReadOnlyFile file(path);
  {
    Pair p;
    p.connection.WriteFileRange(file.NativeHandle(), 1000, 270000);
    p.connection.EndConnection();
    EXPECT_EQ(p.client.ReadAll(5000), content.substr(1000, 270000));
  }
  {
    Pair p;
    EXPECT_THROW(p.connection.WriteFileRange(file.NativeHandle(), 299990, 100), ENetNoDataToRead);
    p.connection.EndConnection();
    EXPECT_EQ(p.client.ReadAll(2000), content.substr(299990));
  }
  std::remove(path.c_str());
}

TEST(ConnectionWrites, AStalledPeerEndsTheSendWithATimeout) {
  Pair p;
  p.connection.SetSendTimeout(300);
  std::string chunk(1 << 20, 'z');
  auto start = Clock::now();
  try {
    for (int i = 0; i < 256; ++i) p.connection.Write(chunk);  // the client never reads
    FAIL() << "64 MiB went into a peer that reads nothing";
  } catch (const ENetSocketError& e) {
    EXPECT_EQ(e.LastError(), net::kErrTimedOut);
  }
  EXPECT_LT(Clock::now() - start, 20s);
  EXPECT_FALSE(p.connection.Connected());
}

TEST(ConnectionWrites, AStalledPeerEndsAFileRangeWithATimeout) {
  std::string path = ::testing::TempDir() + "tovi_stall_test.bin";
  const std::uint64_t size = 64u << 20;
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(size - 1));
    out.put('e');
  }
  {
    fs::ReadOnlyFile file(path);
    Pair p;
    p.connection.SetSendTimeout(300);
    auto start = Clock::now();
    try {
      p.connection.WriteFileRange(file.NativeHandle(), 0, size);  // the client never reads
      FAIL() << "64 MiB went into a peer that reads nothing";
    } catch (const ENetSocketError& e) {
      EXPECT_EQ(e.LastError(), net::kErrTimedOut);
    }
    EXPECT_LT(Clock::now() - start, 20s);
    EXPECT_FALSE(p.connection.Connected());
  }
  std::remove(path.c_str());
}

TEST(Sockets, ReportWindowsSocketsCodesOnEveryPlatform) {
  net::Startup();
  net::SocketHandle a = net::OpenStream();
  net::Endpoint local;
  local.address[0] = 127;
  local.address[3] = 1;
  ASSERT_EQ(net::Bind(a, local), 0);
  ASSERT_EQ(net::Listen(a, 1), 0);
  net::LocalEndpoint(a, &local);
  net::SocketHandle b = net::OpenStream();
  EXPECT_EQ(net::Bind(b, local), -1);
  EXPECT_EQ(net::LastError(), net::kErrAddressInUse);
  net::Close(b);
  net::Close(a);
  net::SocketHandle c = net::OpenStream();
  EXPECT_EQ(net::Connect(c, local, 2000), -1);  // nobody listens there any more
  EXPECT_EQ(net::LastError(), net::kErrConnectionRefused);
  net::Close(c);
}

}  // namespace
}  // namespace tovi::http

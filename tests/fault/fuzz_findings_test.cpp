// What the fuzzers found, kept as regression cases: each input goes to a real engine over
// loopback, and the request record must hold what a sound parser gives.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "http/client/http_client.h"
#include "support/raw_client.h"
#include "http/server/test_server.h"

namespace tovi {
namespace {

std::int64_t NowSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

struct FindingCase {
  const char* name;
  std::string request;
  std::function<void(const http::TNetHTTPRequestInfo&)> check;
};

TEST(FuzzFindings, RequestsThatOnceBrokeTheParserGiveSoundRecords) {
  const FindingCase cases[] = {
      // A count of seconds near the 64-bit limit once wrapped "now + count" into the past
      // (signed overflow, reported by the undefined-behaviour sanitizer).
      {"huge Expires seconds", "GET /x HTTP/1.1\r\nExpires: 9223372036854775000\r\n\r\n",
       [](const http::TNetHTTPRequestInfo& r) { EXPECT_GE(r.Expires(), NowSeconds()); }},
      {"negative Expires seconds", "GET /x HTTP/1.1\r\nExpires: -9223372036854775000\r\n\r\n",
       [](const http::TNetHTTPRequestInfo& r) { EXPECT_LT(r.Expires(), 0); }},
      // Negative clock fields once overflowed "mm * 60" in the date parser.
      {"negative minutes in Date", "GET /x HTTP/1.1\r\nDate: Sun, 06 Nov 1993 01:-826772594:37 GMT\r\n\r\n",
       [](const http::TNetHTTPRequestInfo& r) { EXPECT_EQ(r.Date(), 0); }},
      {"negative hours in Last-Modified",
       "GET /x HTTP/1.1\r\nLast-Modified: Sun, 06 Nov 1994 -5:49:37 GMT\r\n\r\n",
       [](const http::TNetHTTPRequestInfo& r) { EXPECT_EQ(r.LastModified(), 0); }},
      {"a sound date still parses", "GET /x HTTP/1.1\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n",
       [](const http::TNetHTTPRequestInfo& r) { EXPECT_EQ(r.Date(), 784111777); }},
  };
  // One server for all: each case is a connection of its own.
  std::mutex lock;
  const FindingCase* current = nullptr;
  int calls = 0;
  http::test::TestServer server;  // after what its handler uses: stopped before they go
  server.server.OnCommandGet = [&](http::TNetPeerThread&, http::TNetHTTPRequestInfo& request,
                                   http::TNetHTTPResponseInfo&) {
    std::lock_guard<std::mutex> guard(lock);
    ++calls;
    current->check(request);
  };
  server.Start();
  for (const FindingCase& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::lock_guard<std::mutex> guard(lock);
      current = &c;
      calls = 0;
    }
    tovi::testing::RawClient client(server.Port());
    ASSERT_TRUE(client.Send(c.request));
    const std::string answer = client.ReadAll(5000);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << answer;
    ASSERT_TRUE(server.WaitIdle());
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(calls, 1);
  }
}

// The client's header records once had the same link names as the engine's but another layout;
// in one program the linker kept one copy of their inline members for both, and the response
// fuzzer crashed in a constructor. Here both engines build, fill and free their records.
TEST(FuzzFindings, BothEnginesWorkInOneProgram) {
  http::test::TestServer server;
  std::string seenAgent;
  server.server.OnCommandGet = [&](http::TNetPeerThread&, http::TNetHTTPRequestInfo& request,
                                   http::TNetHTTPResponseInfo& response) {
    seenAgent = request.UserAgent();
    response.SetContentType("text/plain");
    response.SetBodyText("from the engine");
  };
  server.Start();
  for (int i = 0; i < 20; ++i) {
    http::TNetHTTP client;
    client.Request().SetUserAgent("fault-suite");
    const std::string body =
        client.Get("http://127.0.0.1:" + std::to_string(server.Port()) + "/x");
    EXPECT_EQ(body, "from the engine");
    EXPECT_EQ(client.Response().ContentType(), "text/plain");
    EXPECT_EQ(client.Response().ContentLength(), 15);
  }
  ASSERT_TRUE(server.WaitIdle());
  EXPECT_EQ(seenAgent, "fault-suite");
}

}  // namespace
}  // namespace tovi

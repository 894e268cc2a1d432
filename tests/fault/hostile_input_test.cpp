// Malformed and hostile requests over real sockets to the real media server: each gets the
// answer the engine and handler promise, and the server still answers "/test" afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <vector>

#include "fault_support.h"
#include "http/exceptions.h"
#include "http/server/test_server.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace tovi::fault {
namespace {

enum class Outcome { ClosedSilently, Status };

struct HostileCase {
  const char* name;
  std::string request;
  Outcome outcome;
  std::string statusLine;     // for Outcome::Status
  std::string bodyOrLength;   // the exact body, or "#N" for a Content-Length of N
};

TEST(HostileInput, EachRequestGetsItsAnswerAndTheServerAnswersAfterwards) {
  testing::TempDir dir;
  dir.Write("secret.txt", "secret");
  dir.Write("data.bin", std::string(1000, 'd'));
  std::filesystem::create_directory(dir.Path("sub"));
  dir.Write("sub/x.txt", "x");
  const std::string folder = dir.Folder();  // absolute, ends in '/'
  auto get = [](const std::string& target) { return Request("GET", target); };
  auto ranged = [&](const std::string& range) {
    return Request("GET", folder + "data.bin", "Range: " + range + "\r\n");
  };
  std::string manyLines = "GET /test HTTP/1.1\r\n";
  for (int i = 0; i < 10000; ++i) manyLines += "X-Line-" + std::to_string(i) + ": v\r\n";
  manyLines += "\r\n";

  const std::vector<HostileCase> cases = {
      {"10 MB request line", "GET /" + std::string(10 << 20, 'a') + " HTTP/1.1\r\n\r\n",
       Outcome::ClosedSilently, "", ""},
      {"10,000 header lines", manyLines, Outcome::ClosedSilently, "", ""},
      // A NUL must not cut the name short: "secret.txt\0.mp4" is not secret.txt.
      {"raw NUL byte in the path", get(folder + std::string("secret.txt\0.mp4", 15)),
       Outcome::Status, "HTTP/1.1 404 Not Found", "Not Found"},
      {"escaped NUL before an extension", get(folder + "secret.txt%00.mp4"), Outcome::Status,
       "HTTP/1.1 404 Not Found", "Not Found"},
      {"invalid UTF-8 in the path", get(folder + "%FF%FE.txt"), Outcome::Status,
       "HTTP/1.1 404 Not Found", "Not Found"},
      {"raw invalid UTF-8 in the path", get(folder + "\xC3\x28.txt"), Outcome::Status,
       "HTTP/1.1 404 Not Found", "Not Found"},
      // Overlong forms of '/' and '.' must not reach another file.
      {"overlong UTF-8 slash", get(folder + "sub%C0%AFx.txt"), Outcome::Status,
       "HTTP/1.1 404 Not Found", "Not Found"},
      {"overlong UTF-8 dots", get(folder + "sub/%C0%AE%C0%AE/secret.txt"), Outcome::Status,
       "HTTP/1.1 404 Not Found", "Not Found"},
      // URL decoding takes a '%' with nothing after it as no byte at all.
      {"'%' at the end of the path", get(folder + "secret.txt%"), Outcome::Status,
       "HTTP/1.1 200 OK", "secret"},
      // ... while "%4" at the end is the byte 4: no such file.
      {"'%' and one digit at the end", get(folder + "secret.txt%4"), Outcome::Status,
       "HTTP/1.1 404 Not Found", "Not Found"},
      // Range numbers past 64 bits are no numbers: the header is as good as absent.
      {"Range start past 64 bits", ranged("bytes=18446744073709551616-"), Outcome::Status,
       "HTTP/1.1 200 OK", "#1000"},
      {"Range end past 64 bits", ranged("bytes=0-99999999999999999999999"), Outcome::Status,
       "HTTP/1.1 200 OK", "#1000"},
      {"Range suffix past 64 bits", ranged("bytes=-18446744073709551616"), Outcome::Status,
       "HTTP/1.1 200 OK", "#1000"},
      {"Range start at the 63-bit limit", ranged("bytes=9223372036854775807-"), Outcome::Status,
       "HTTP/1.1 416 Range Not Satisfiable", "#0"},
      {"Range end at the 64-bit limit", ranged("bytes=100-18446744073709551615"), Outcome::Status,
       "HTTP/1.1 206 Partial Content", "#900"},
      // Of a list of ranges, the first is served.
      {"Range with a list of ranges", ranged("bytes=0-10,20-30"), Outcome::Status,
       "HTTP/1.1 206 Partial Content", "#11"},
  };

  MediaServer server;
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    tovi::testing::RawClient client(server.Port());
    client.Send(c.request);  // may fail half-way once the server has hung up: that is the point
    std::string raw;
    ASSERT_TRUE(client.WaitClosed(10000, &raw)) << "the server kept the connection";
    const testing::WireResponse answer = ParseResponse(raw);
    if (c.outcome == Outcome::ClosedSilently) {
      EXPECT_EQ(raw, "");
    } else {
      EXPECT_EQ(answer.statusLine, c.statusLine);
      if (!c.bodyOrLength.empty() && c.bodyOrLength[0] == '#') {
        EXPECT_EQ(answer.Header("Content-Length"), c.bodyOrLength.substr(1));
      } else {
        EXPECT_EQ(answer.body, c.bodyOrLength);
      }
    }
    EXPECT_EQ(Get(server.Port(), "/test", "", "GET", 10000).statusLine, "HTTP/1.1 200 OK");
  }
  EXPECT_TRUE(server.WaitConnectionsAtMost(0, 5000));
}

}  // namespace
}  // namespace tovi::fault

namespace tovi::fault {
namespace {

// The soft open-file limit set for a test, and put back after.
class SoftHandleLimit {
 public:
  explicit SoftHandleLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit lowered = saved_;
    lowered.rlim_cur = soft;
    set_ = ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~SoftHandleLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
  bool Set() const { return set_; }

 private:
  rlimit saved_{};
  bool set_ = false;
};

// Every handle the process may open taken: each open fails with EMFILE.
class HandlesTaken {
 public:
  HandlesTaken() : limit_(static_cast<rlim_t>(HandleCount() + 16)) {
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
    full_ = limit_.Set() && errno == EMFILE;
  }
  ~HandlesTaken() {
    for (int fd : taken_) ::close(fd);
  }
  bool Full() const { return full_; }

 private:
  SoftHandleLimit limit_;
  bool full_ = false;
  std::vector<int> taken_;
};

// A low open-file limit: the program raises it at start; one it cannot raise still serves, and
// one too low to serve at all makes the switch-on fail saying so.
TEST(OutOfHandles, ALowOpenFileLimitIsRaisedAndStillServesOrRefusesSwitchOnClearly) {
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
  {
    SoftHandleLimit low(500);
    ASSERT_TRUE(low.Set());
    process::RaiseOpenFileLimit();
    rlimit raised{};
    ::getrlimit(RLIMIT_NOFILE, &raised);
    EXPECT_EQ(raised.rlim_cur,
              before.rlim_max == RLIM_INFINITY ? rlim_t{1} << 20 : before.rlim_max);
  }
  {
    SoftHandleLimit low(500);
    ASSERT_TRUE(low.Set());
    MediaServer server;
    EXPECT_EQ(Get(server.Port(), "/test", "", "GET", 5000).statusLine, "HTTP/1.1 200 OK");
  }
  SoftHandleLimit tooLow(60);
  ASSERT_TRUE(tooLow.Set());
  try {
    MediaServer server;
    ADD_FAILURE() << "switched on with 60 open files allowed";
  } catch (const tovi::http::ENetSocketError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Too few open-file handles to serve: the system allows this program 60, the server "
              "needs at least 67.");
  }
}

// Out of handles, the listener neither spins nor gives up: it pauses, and takes the waiting
// connection once handles are free again.
TEST(OutOfHandles, TheListenerPausesAndServesOnceHandlesAreFree) {
  tovi::http::test::TestServer s;
  s.UsePool();
  std::atomic<int> listenFailures{0};
  s.server.OnListenException = [&](auto&, const std::exception&) { ++listenFailures; };
  s.server.OnCommandGet = [](auto&, auto&, tovi::http::TNetHTTPResponseInfo& r) {
    r.SetBodyText("served");
  };
  s.Start();
  // Served once before the handles are taken, so that the accepting path has run: the sanitized
  // build checks the type of a call's object with a pipe the first time it meets it, and out of
  // handles that check fails and stops the program. The client's socket is made before too:
  // whatever the process opens for a moment (such a pipe, with one handle free) would take the
  // last handle from it.
  ASSERT_NE(tovi::testing::ExchangeBytes(s.Port(), "GET / HTTP/1.1\r\n\r\n").find("served"),
            std::string::npos);
  tovi::testing::RawClient client;
  ASSERT_TRUE(client.Open());
  {
    HandlesTaken taken;
    ASSERT_TRUE(taken.Full());
    ASSERT_TRUE(client.Connect(s.Port()));
    ASSERT_TRUE(client.Send("GET / HTTP/1.1\r\n\r\n"));
    // A listener that retried at once would fail thousands of times in this second.
    EXPECT_FALSE(testing::WaitUntil([&] { return listenFailures >= 50; }, 1000))
        << listenFailures << " accept failures in a second";
    EXPECT_EQ(client.ReadCount(1, 0), "") << "served while out of handles";
  }
  EXPECT_NE(client.ReadAll(5000).find("served"), std::string::npos);
}

}  // namespace
}  // namespace tovi::fault

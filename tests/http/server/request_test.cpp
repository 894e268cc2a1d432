// How the request loop reads and parses what a client sends.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>

#include "http/coding.h"
#include "http/exceptions.h"
#include "support/raw_client.h"
#include "http/server/test_server.h"

namespace tovi::http {
namespace {

struct Seen {
  std::string method, path, version, query, paramText, formText, host, raw, remote;
  std::vector<std::string> params, cookies;
  std::uint64_t rangeStart = 0, rangeEnd = 0;
  bool auth = false;
  std::string user, password;
  std::int64_t contentLength = -2;
};

// A server whose handler records what it was given, started once for a whole table of
// requests.
class RecordingServer {
 public:
  RecordingServer() {
    s_.server.OnCommandGet = [this](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
      Record(q);
      r.SetBodyText("ok");
    };
    s_.Start();
  }

  // Runs one request through it: what the handler saw, if it was called.
  std::optional<Seen> Parse(const std::string& request, std::string* reply = nullptr,
                            bool halfClose = false) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      seen_.reset();
    }
    tovi::testing::RawClient client(s_.Port());
    client.Send(request);
    if (halfClose) client.ShutdownSend();
    std::string got = client.ReadAll(5000);
    if (reply) *reply = got;
    s_.WaitIdle();
    std::lock_guard<std::mutex> guard(lock_);
    return seen_;
  }

 private:
  void Record(TNetHTTPRequestInfo& q) {
    Seen v;
    v.method = q.RequestMethod();
    v.path = q.RequestPath();
    v.version = q.HttpVersion();
    v.query = q.QueryText();
    v.paramText = q.ParamText();
    v.formText = q.FormText();
    v.host = q.Host();
    v.raw = q.RawRequestLine();
    v.remote = q.RemoteAddress();
    v.params = q.ParamList();
    for (const TNetCookieRC& c : q.CookieList()) v.cookies.push_back(c.CookieText());
    const ByteRange range = q.Range();
    if (range.Present()) {
      v.rangeStart = range.specs[0].first;
      v.rangeEnd = range.specs[0].last;
    }
    v.auth = q.AuthExists();
    v.user = q.AuthUsername();
    v.password = q.AuthPassword();
    v.contentLength = q.ContentLength();
    std::lock_guard<std::mutex> guard(lock_);
    seen_ = v;
  }

  test::TestServer s_;
  std::mutex lock_;
  std::optional<Seen> seen_;
};

TEST(RequestParsing, RequestLinesAndTargets) {
  RecordingServer server;
  struct Case {
    const char* line;
    const char* method;
    const char* path;
    const char* version;
    const char* query;
    std::vector<std::string> params;
  };
  const Case cases[] = {
      {"GET /a b HTTP/1.1", "GET", "/a b", "HTTP/1.1", "", {}},
      {"get /x HTTP/1.0", "GET", "/x", "HTTP/1.0", "", {}},
      {"GET /x", "GET", "", "/x", "", {}},
      {"GET /file.mp4?x=1 HTTP/1.1", "GET", "/file.mp4", "HTTP/1.1", "x=1", {"x=1"}},
      // The whole path is decoded, after an "=" too; a raw "#" after it still ends the path.
      {"GET /a=b%20c HTTP/1.1", "GET", "/a=b c", "HTTP/1.1", "", {}},
      {"GET /sub=dir/x=1%262%2B%D0%90%201.mkv#f%20 HTTP/1.1", "GET",
       "/sub=dir/x=1&2+\xD0\x90 1.mkv", "HTTP/1.1", "", {}},
      {"GET /p%41%2 HTTP/1.1", "GET", "/pA\x02", "HTTP/1.1", "", {}},
      {"GET /C:/My%20Films/a+b.mp4 HTTP/1.1", "GET", "/C:/My Films/a b.mp4", "HTTP/1.1", "", {}},
      {"GET /C:\\Films\\a.mkv HTTP/1.1", "GET", "/C:/Films/a.mkv", "HTTP/1.1", "", {}},
      {"GET /treeview?C:%5CFilms%5C HTTP/1.1", "GET", "/treeview", "HTTP/1.1", "C:%5CFilms%5C",
       {"C:\\Films\\"}},
      {"GET /t?a=1&&b HTTP/1.1", "GET", "/t", "HTTP/1.1", "a=1&&b", {"a=1", "", "b"}},
      {"GET /t?a=1& HTTP/1.1", "GET", "/t", "HTTP/1.1", "a=1&", {"a=1", ""}},
      {"GET /t?q=%D0%90+b HTTP/1.1", "GET", "/t", "HTTP/1.1", "q=%D0%90+b", {"q=\xD0\x90 b"}},
      {"GET http://user@host:81/dir/a%20b HTTP/1.1", "GET", "/dir/a b", "HTTP/1.1", "", {}},
      {"POST /p HTTP/1.1", "POST", "/p", "HTTP/1.1", "", {}},
      {"HEAD /h HTTP/1.1", "HEAD", "/h", "HTTP/1.1", "", {}},
  };
  for (const Case& c : cases) {
    std::string reply;
    auto seen = server.Parse(std::string(c.line) + "\r\nContent-Length: 0\r\n\r\n", &reply);
    ASSERT_TRUE(seen) << c.line;
    EXPECT_EQ(seen->method, c.method) << c.line;
    EXPECT_EQ(seen->path, c.path) << c.line;
    EXPECT_EQ(seen->version, c.version) << c.line;
    EXPECT_EQ(seen->query, c.query) << c.line;
    EXPECT_EQ(seen->params, c.params) << c.line;
    EXPECT_EQ(seen->raw, c.line);
    EXPECT_EQ(seen->remote, "127.0.0.1");
    EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK") << c.line;  // whatever the request said
  }
  auto absolute = server.Parse("GET http://media.example:81/a HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(absolute);
  EXPECT_EQ(absolute->host, "media.example");
  auto named = server.Parse("GET http://other/a HTTP/1.1\r\nHost: given\r\n\r\n");
  ASSERT_TRUE(named);
  EXPECT_EQ(named->host, "given");
}

TEST(RequestParsing, HeaderFieldsRangesCookiesAndAuthorization) {
  RecordingServer server;
  struct Case {
    const char* headers;
    std::uint64_t start, end;
    std::vector<std::string> cookies;
  };
  const Case cases[] = {
      {"", 0, 0, {}},
      {"Range: bytes=100-200\r\n", 100, 200, {}},
      {"Range : bytes=1-2\r\n", 0, 0, {}},
      {"Range: bytes=1-2\r\nRange: bytes=3-4\r\n", 1, 2, {}},
      {"range: bytes=-500\r\n", 0, 500, {}},
      {"Cookie: a=1; b=2\r\nCookie: c=3;\r\n", 0, 0, {"a=1", "b=2", "c=3"}},
      {"Cookie: a=1;  b=2 ;c\r\n", 0, 0, {"a=1", "b=2 ", "c="}},
      {"X: 1\r\n..Range: bytes=9-10\r\n", 0, 0, {}},  // ".." loses one dot: ".Range"
  };
  for (const Case& c : cases) {
    auto seen = server.Parse(std::string("GET / HTTP/1.1\r\n") + c.headers + "\r\n");
    ASSERT_TRUE(seen) << c.headers;
    EXPECT_EQ(seen->rangeStart, c.start) << c.headers;
    EXPECT_EQ(seen->rangeEnd, c.end) << c.headers;
    EXPECT_EQ(seen->cookies, c.cookies) << c.headers;
  }
  auto auth = server.Parse("GET / HTTP/1.1\r\nAuthorization: bAsIc " + Base64Encode("tv:se:cret") +
                    "\r\n\r\n");
  ASSERT_TRUE(auth);
  EXPECT_TRUE(auth->auth);
  EXPECT_EQ(auth->user, "tv");
  EXPECT_EQ(auth->password, "se:cret");
}

TEST(RequestParsing, BodiesFormsAndLengths) {
  RecordingServer server;
  auto form = server.Parse(
      "POST /f?q=1&r=2 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 11\r\n\r\na=x+y&b=%41");
  ASSERT_TRUE(form);
  EXPECT_EQ(form->formText, "a=x+y&b=%41");
  EXPECT_EQ(form->paramText, "a=x+y&b=%41\r\nq=1&r=2");
  // CR LF is not a separator: the last form field and the first query field share an entry.
  EXPECT_EQ(form->params, (std::vector<std::string>{"a=x y", "b=A\r\nq=1", "r=2"}));
  EXPECT_EQ(form->contentLength, 11);

  auto other = server.Parse(
      "POST /f?q=1 HTTP/1.1\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nabc");
  ASSERT_TRUE(other);
  EXPECT_EQ(other->params, (std::vector<std::string>{"q=1"}));
  EXPECT_EQ(other->formText, "abc");

  // Without a Content-Length the body runs to the client's half-close; the answer still
  // reaches the client.
  std::string reply;
  auto untilClose = server.Parse("POST /u HTTP/1.1\r\n\r\nall of this", &reply, true);
  ASSERT_TRUE(untilClose);
  EXPECT_EQ(untilClose->formText, "all of this");
  EXPECT_NE(reply.find("\r\n\r\nok"), std::string::npos);

  auto getIgnoresBody = server.Parse("GET /g HTTP/1.1\r\n\r\n");
  ASSERT_TRUE(getIgnoresBody);
  EXPECT_EQ(getIgnoresBody->formText, "");
}

TEST(RequestParsing, ParseParamsOffLeavesTheListEmpty) {
  test::TestServer s;
  s.server.SetParseParams(false);
  std::atomic<std::size_t> count{99};
  s.server.OnCommandGet = [&](auto&, TNetHTTPRequestInfo& q, auto&) {
    count = q.ParamList().size();
  };
  s.Start();
  tovi::testing::ExchangeBytes(s.Port(), "GET /t?a=1&b=2 HTTP/1.1\r\n\r\n");
  EXPECT_EQ(count.load(), 0u);
}

TEST(RequestParsing, PostStreamHookReceivesTheBody) {
  test::TestServer s;
  std::string body;
  std::mutex lock;
  s.server.OnCreatePostStream = [](TNetPeerThread&, std::unique_ptr<TStream>& stream) {
    stream = std::make_unique<TMemoryStream>();
  };
  s.server.OnCommandGet = [&](auto&, TNetHTTPRequestInfo& q, auto&) {
    ASSERT_NE(q.RequestBody(), nullptr);
    std::string bytes(static_cast<std::size_t>(q.RequestBody()->Size()), '\0');
    q.RequestBody()->Read(bytes.data(), bytes.size());
    std::lock_guard<std::mutex> guard(lock);
    body = bytes + "|" + q.FormText();
  };
  s.Start();
  tovi::testing::ExchangeBytes(s.Port(), "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello");
  s.WaitIdle();
  std::lock_guard<std::mutex> guard(lock);
  EXPECT_EQ(body, "hello|");  // a non-text stream gives no FormText
}

// A client that sends "Expect: 100-continue" holds its body back until told to go on (or for a
// second of its own): the server says so once it takes the body, with a connection waiting
// without a thread or on one, and never to an HTTP/1.0 client.
TEST(RequestParsing, ABodyAskedToWaitIsInvitedOnce) {
  for (const bool pool : {true, false}) {
    SCOPED_TRACE(pool ? "waiting without a thread" : "on its thread");
    test::TestServer s;
    if (pool) s.UsePool();
    s.server.OnCommandGet = [](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
      r.SetBodyText("got " + q.FormText());
    };
    s.Start();
    tovi::testing::RawClient client(s.Port());
    ASSERT_TRUE(client.Send("POST /p HTTP/1.1\r\nExpect: 100-Continue\r\nContent-Length: 3\r\n\r\n"));
    EXPECT_EQ(client.ReadCount(25), "HTTP/1.1 100 Continue\r\n\r\n");
    ASSERT_TRUE(client.Send("a=b"));
    const std::string answer = client.ReadResponse();
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200")) << answer;
    EXPECT_TRUE(answer.ends_with("got a=b")) << answer;
    const std::string old = tovi::testing::ExchangeBytes(
        s.Port(), "POST /p HTTP/1.0\r\nExpect: 100-continue\r\nContent-Length: 3\r\n\r\nc=d");
    EXPECT_TRUE(old.starts_with("HTTP/1.1 200")) << old;
  }
}

// A control point may stream its action chunked: the chunks make the body (extensions and
// trailer lines dropped), the connection stays for the next request, and a chunk past the
// body bound ends it without an answer.
TEST(RequestParsing, ChunkedBodiesAreReadAndTheConnectionKept) {
  test::TestServer s;
  TNetServerLimits limits;
  limits.maxRequestBodyBytes = 64;
  s.server.SetLimits(limits);
  s.server.SetKeepAlive(true);
  s.server.OnCommandGet = [](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    r.SetBodyText(q.RequestPath() + " got " + q.FormText());
  };
  s.Start();
  tovi::testing::RawClient client(s.Port());
  ASSERT_TRUE(client.Send("POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
                          "3;name=v\r\na=b\r\n4\r\n&c=d\r\n0\r\nX-Sum: 1\r\n\r\n"));
  const std::string first = client.ReadResponse();
  EXPECT_TRUE(first.ends_with("/p got a=b&c=d")) << first;
  ASSERT_TRUE(client.Send("GET /next HTTP/1.1\r\n\r\n"));
  const std::string next = client.ReadResponse();
  EXPECT_TRUE(next.ends_with("/next got ")) << next;
  const std::string refused = tovi::testing::ExchangeBytes(
      s.Port(), "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n41\r\n");
  EXPECT_EQ(refused, "");
  // A size line that is no size, or a chunk longer than its size, is no body: nothing of it is
  // answered, nor read as a request of its own.
  for (const char* chunks : {"+3\r\na=b\r\n0\r\n\r\n", " 3\r\na=b\r\n0\r\n\r\n",
                             "zz\r\na=b\r\n\r\nGET /smuggled HTTP/1.1\r\n\r\n",
                             "3\r\na=b&c=d\r\n0\r\n\r\n"}) {
    EXPECT_EQ(tovi::testing::ExchangeBytes(
                  s.Port(), std::string("POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n"
                                        "Connection: close\r\n\r\n") + chunks),
              "")
        << chunks;
  }
}

// The chunked coding is named in any letter case, and a length sent beside it is not believed.
TEST(RequestParsing, ChunkedCodingGoesBeforeItsSpellingAndALength) {
  test::TestServer s;
  s.server.SetKeepAlive(true);
  s.server.OnCommandGet = [](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    r.SetBodyText(q.RequestPath() + " got " + q.FormText());
  };
  s.Start();
  tovi::testing::RawClient client(s.Port());
  ASSERT_TRUE(client.Send("POST /a HTTP/1.1\r\nTransfer-Encoding: Chunked\r\n\r\n3\r\na=b\r\n0\r\n\r\n"));
  EXPECT_TRUE(client.ReadResponse().ends_with("/a got a=b"));
  ASSERT_TRUE(client.Send("POST /b HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n"
                          "3\r\nc=d\r\n0\r\n\r\nGET /c HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(client.ReadResponse().ends_with("/b got c=d"));
  EXPECT_TRUE(client.ReadResponse().ends_with("/c got "));
}

// An empty line where a request line is due (sent after a POST body by older clients, or
// before the first request) is passed over, with a thread per connection and in the pool.
TEST(RequestParsing, EmptyLinesBeforeARequestLineArePassedOver) {
  for (const bool pool : {false, true}) {
    test::TestServer s;
    if (pool) s.UsePool();
    s.server.SetKeepAlive(true);
    s.server.OnCommandGet = [](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
      r.SetBodyText(q.RequestPath() + " got " + q.FormText());
    };
    s.Start();
    tovi::testing::RawClient client(s.Port());
    ASSERT_TRUE(client.Send("\r\nPOST /a HTTP/1.1\r\nContent-Length: 3\r\n\r\na=b\r\n"));
    EXPECT_TRUE(client.ReadResponse().ends_with("/a got a=b")) << pool;
    ASSERT_TRUE(client.Send("\r\nGET /b HTTP/1.1\r\n\r\n"));
    EXPECT_TRUE(client.ReadResponse().ends_with("/b got ")) << pool;
  }
}

// Malformed requests close the connection without a byte and reach OnException.
TEST(RequestParsing, MalformedRequestsCloseWithoutOutput) {
  struct Case {
    std::string request;
    const char* exception;  // nullptr: none expected
  };
  const Case cases[] = {
      {"GARBAGE\r\n\r\n", "Error in parsing command."},
      {std::string(16385, 'G') + "\r\n\r\n", "Max line length exceeded."},
      {"GET / HTTP/1.1\r\nX: " + std::string(16400, 'a') + "\r\n\r\n", "Max line length exceeded."},
      {"GET / HTTP/1.1\r\nAuthorization: Digest x\r\n\r\n", "Unsupported authorization scheme."},
      {"OPTIONS * HTTP/1.1\r\n\r\n", nullptr},
      {"", "Connection Closed Gracefully."},
  };
  test::TestServer s;
  std::atomic<bool> called{false};
  s.server.OnCommandGet = [&](auto&, auto&, auto&) { called = true; };
  s.Start();
  for (const Case& c : cases) {
    const std::size_t before = s.Exceptions().size();
    tovi::testing::RawClient client(s.Port());
    client.Send(c.request);
    if (c.request.empty()) client.ShutdownSend();
    std::string got;
    EXPECT_TRUE(client.WaitClosed(5000, &got)) << c.request.substr(0, 30);
    EXPECT_EQ(got, "") << c.request.substr(0, 30);
    ASSERT_TRUE(s.WaitIdle());
    EXPECT_FALSE(called);
    auto ex = s.Exceptions();
    if (c.exception) {
      ASSERT_EQ(ex.size(), before + 1) << c.request.substr(0, 30);
      EXPECT_EQ(ex.back(), c.exception);
    } else {
      EXPECT_EQ(ex.size(), before);
    }
  }
}

TEST(RequestParsing, OtherMethodsGoToOnCommandOtherUnlessListedAsExtra) {
  test::TestServer s;
  std::mutex lock;
  std::string other, handled;
  s.server.SetExtraMethods({"subscribe", "UNSUBSCRIBE"});
  s.server.OnCommandGet = [&](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    std::lock_guard<std::mutex> guard(lock);
    handled = q.RequestMethod() + "|" + q.QueryText() + "|" + q.HeaderLines().Values("SID");
    r.SetBodyText("ok");
  };
  s.server.OnCommandOther = [&](TNetPeerThread&, const std::string& m, const std::string& t,
                                const std::string& v) {
    std::lock_guard<std::mutex> guard(lock);
    other = m + "|" + t + "|" + v;
  };
  s.Start();
  struct Case {
    const char* request;
    const char* handled;  // what OnCommandGet saw ("" = not called)
    const char* other;    // what OnCommandOther saw
    bool answered;
  };
  const Case cases[] = {
      {"delete /x y HTTP/1.0\r\n\r\n", "", "DELETE|/x y|HTTP/1.0", false},
      {"NOTIFY /x HTTP/1.1\r\nSID: a\r\n\r\n", "", "NOTIFY|/x|HTTP/1.1", false},
      {"Subscribe /?e HTTP/1.1\r\nSID: uuid:1\r\n\r\n", "SUBSCRIBE|e|uuid:1", "", true},
      {"UNSUBSCRIBE /?e HTTP/1.1\r\nSID: uuid:2\r\n\r\n", "UNSUBSCRIBE|e|uuid:2", "", true},
  };
  for (const Case& c : cases) {
    {
      std::lock_guard<std::mutex> guard(lock);
      other.clear();
      handled.clear();
    }
    const std::string reply = tovi::testing::ExchangeBytes(s.Port(), c.request);
    s.WaitIdle();
    EXPECT_EQ(reply.substr(0, std::min<std::size_t>(reply.size(), 15)),
              c.answered ? "HTTP/1.1 200 OK" : "")
        << c.request;
    std::lock_guard<std::mutex> guard(lock);
    EXPECT_EQ(handled, c.handled) << c.request;
    EXPECT_EQ(other, c.other) << c.request;
  }
}

}  // namespace
}  // namespace tovi::http

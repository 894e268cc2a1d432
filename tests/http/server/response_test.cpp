// What reaches the wire for what a handler does with the response record.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "http/exceptions.h"
#include "support/raw_client.h"
#include "http/server/test_server.h"

namespace tovi::http {
namespace {

using Handler = std::function<void(TNetPeerThread&, TNetHTTPRequestInfo&, TNetHTTPResponseInfo&)>;

struct WireCase {
  const char* name;
  const char* request;
  Handler handler;
  std::string expected;  // every byte until the server closes
};

const std::string kServer = "Server: NetHTTP/1.0\r\n";
const std::string kGet = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";

const WireCase kWireCases[] = {
    {"body text only", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("<html>x</html>"); },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 14\r\n" +
         kServer + "\r\n<html>x</html>"},
    {"custom headers sit before Server", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) {
       r.CustomHeaders().SetValue("Access-Control-Allow-Origin", "*");
       r.CustomHeaders().SetValue("Accept-Ranges", "bytes");
       r.SetBodyText("ab");
     },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 2\r\n"
     "Access-Control-Allow-Origin: *\r\nAccept-Ranges: bytes\r\n" + kServer + "\r\nab"},
    {"nothing set", kGet.c_str(), [](auto&, auto&, auto&) {},
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n" + kServer + "\r\n"},
    {"unknown code", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetResponseCode(299); },
     "HTTP/1.1 299 Unknown Response Code\r\nConnection: close\r\nContent-Type: text/html\r\n" +
         kServer + "\r\n"},
    // What a player reads for a range past the file's end: the status, with the engine's phrase.
    {"refused range", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetResponseCode(416); },
     "HTTP/1.1 416 Unknown Response Code\r\nConnection: close\r\nContent-Type: text/html\r\n" +
         kServer + "\r\n"},
    {"SendBody with nothing set", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SendBody(); },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n" + kServer +
         "\r\n<HTML><BODY><B>200 OK</B></BODY></HTML>\r\n"},
    {"exception before writing", kGet.c_str(),
     [](auto&, auto&, auto&) { throw std::runtime_error("Operation aborted"); },
     "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Type: text/html\r\n"
     "Content-Length: 17\r\n" + kServer + "\r\nOperation aborted"},
    {"exception keeps a length the handler set", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) {
       r.SetContentLength(3);
       r.CustomHeaders().SetValue("Access-Control-Allow-Origin", "*");
       throw std::runtime_error("boom");
     },
     "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Type: text/html\r\n"
     "Content-Length: 3\r\nAccess-Control-Allow-Origin: *\r\n" + kServer + "\r\nboom"},
    {"SendHeaders twice: the second refused, nothing more on the wire", kGet.c_str(),
     [](TNetPeerThread& t, auto&, TNetHTTPResponseInfo& r) {
       r.SetContentLength(32);
       r.SendHeaders();
       try {
         r.SendHeaders();
       } catch (const ENetHTTPHeaderAlreadyWritten& e) {
         t.Connection().Write(e.what());
       }
     },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 32\r\n" +
         kServer + "\r\nHeader has already been written."},
    {"a custom Server line keeps its place with the record's value", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) {
       r.CustomHeaders().Add("Server: X");
       r.CustomHeaders().Add("X-After: 1");
     },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\n" + kServer +
         "X-After: 1\r\n\r\n"},
    {"no content type", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) {
       r.SetContentType("");
       r.SetBodyText("x");
     },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n" + kServer + "\r\nx"},
    {"every standard field in its place", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) {
       r.SetContentVersion("1");
       r.SetContentEncoding("gzip");
       r.SetContentLanguage("ru");
       r.SetCacheControl("no-cache");
       r.SetDate(784111777);
       r.SetExpires(784111778);
       r.SetPragma("no-cache");
       r.SetLocation("/there");
       r.SetLastModified(784111776);
       r.SetResponseCode(302);
     },
     "HTTP/1.1 302 Moved Temporarily\r\nConnection: close\r\nContent-Version: 1\r\n"
     "Content-Encoding: gzip\r\nContent-Language: ru\r\nContent-Type: text/html\r\n"
     "Cache-control: no-cache\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
     "Expires: Sun, 06 Nov 1994 08:49:38 GMT\r\nPragma: no-cache\r\n" + kServer +
         "Location: /there\r\nLast-Modified: Sun, 06 Nov 1994 08:49:36 GMT\r\n\r\n"},
    {"body stream", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) {
       r.SetBodyStream(std::make_unique<TStringStream>("streamed"));
     },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 8\r\n" +
         kServer + "\r\nstreamed"},
    {"basic realm challenge", kGet.c_str(),
     [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBasicRealm("media"); },
     "HTTP/1.1 401 Unauthorized\r\nConnection: close\r\nContent-Type: text/html\r\n"
     "Content-Length: 49\r\n" + kServer + "WWW-Authenticate: Basic realm=\"media\"\r\n"
     "\r\n<HTML><BODY><B>401 Unauthorized</B></BODY></HTML>"},
    {"HEAD: headers with the length, no body", "HEAD / HTTP/1.1\r\n\r\n",
     [](auto&, auto&, TNetHTTPResponseInfo& r) { r.SetBodyText("<html>x</html>"); },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 14\r\n" +
         kServer + "\r\n"},
    {"handler writes the file itself and closes", kGet.c_str(),
     [](TNetPeerThread& t, auto&, TNetHTTPResponseInfo& r) {
       r.SetResponseCode(206);
       r.SetContentType("video/mp4");
       r.SetContentLength(4);
       r.CustomHeaders().Clear();
       r.CustomHeaders().SetValue("Accept-Ranges", "bytes");
       r.SendHeaders();
       TStringStream file("0123456789");
       file.SetPosition(3);
       t.Connection().WriteStream(file, false, false, 4);
       t.Connection().EndConnection();
     },
     "HTTP/1.1 206 Partial Content\r\nConnection: close\r\nContent-Type: video/mp4\r\n"
     "Content-Length: 4\r\nAccept-Ranges: bytes\r\n" + kServer + "\r\n3456"},
    // A handler that keeps connections open and sends its head early: the request's close wins
    // in the head too, not only on the socket.
    {"a request's close is the head's, also when a handler keeps and sends early",
     "GET / HTTP/1.1\r\nConnection: close\r\n\r\n",
     [](auto&, auto&, TNetHTTPResponseInfo& r) {
       r.SetCloseAfterResponse(false);
       r.SetContentLength(0);
       r.SendHeaders();
     },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 0\r\n" +
         kServer + "\r\n"},
    {"a stream shorter than its announced size: a short body, no message", kGet.c_str(),
     [](TNetPeerThread& t, auto&, TNetHTTPResponseInfo& r) {
       r.SetContentLength(20);
       r.SendHeaders();
       TStringStream file("0123456789");
       t.Connection().WriteStream(file, true, false, 20);
     },
     "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: text/html\r\nContent-Length: 20\r\n" +
         kServer + "\r\n0123456789"},
};

TEST(ResponseWriting, PutsTheExactBytesOnTheWire) {
  // One server for the table: each case's handler is set before its connection is made.
  test::TestServer s;
  const WireCase* current = nullptr;
  s.server.OnCommandGet = [&](TNetPeerThread& t, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    current->handler(t, q, r);
  };
  s.Start();
  for (const WireCase& c : kWireCases) {
    current = &c;
    tovi::testing::RawClient client(s.Port());
    client.Send(c.request);
    std::string got = client.ReadAll(5000);
    EXPECT_EQ(got, c.expected) << c.name;
    EXPECT_TRUE(client.PeerClosed()) << c.name;
    ASSERT_TRUE(s.WaitIdle()) << c.name;
  }
}

TEST(ResponseWriting, KeepAliveServesASecondRequestAnd404Closes) {
  test::TestServer s;
  s.server.SetKeepAlive(true);
  s.server.OnCommandGet = [](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    if (q.RequestPath() == "/missing") {
      r.SetResponseCode(404);
      r.SetBodyText("Not Found");
    } else {
      r.SetBodyText("path " + q.RequestPath());
    }
  };
  s.Start();
  tovi::testing::RawClient client(s.Port());
  client.Send("GET /one HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n"
            "Content-Length: 9\r\n" + kServer + "\r\npath /one");
  client.Send("GET /two HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n"
            "Content-Length: 9\r\n" + kServer + "\r\npath /two");
  // Two requests in one packet are both answered, in order.
  client.Send("GET /3 HTTP/1.1\r\n\r\nGET /4 HTTP/1.1\r\n\r\n");
  EXPECT_NE(client.ReadResponse().find("path /3"), std::string::npos);
  EXPECT_NE(client.ReadResponse().find("path /4"), std::string::npos);
  client.Send("GET /missing HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadAll(5000),
            "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Type: text/html\r\n"
            "Content-Length: 9\r\n" + kServer + "\r\nNot Found");
  EXPECT_TRUE(client.PeerClosed());
}

TEST(ResponseWriting, KeepAliveFramesEmptyAndFailedResponses) {
  test::TestServer s;
  s.server.SetKeepAlive(true);
  s.server.OnCommandGet = [](auto&, TNetHTTPRequestInfo& q, TNetHTTPResponseInfo& r) {
    if (q.RequestPath() == "/default") r.SendBody();
    if (q.RequestPath() == "/late") {
      r.SetContentLength(5);
      r.SendHeaders();
      throw std::runtime_error("late");
    }
  };
  s.Start();
  tovi::testing::RawClient client(s.Port());
  client.Send("GET /empty HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n"
            "Content-Length: 0\r\n" + kServer + "\r\n");
  client.Send("GET /default HTTP/1.1\r\n\r\n");
  EXPECT_EQ(client.ReadResponse(),
            "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Type: text/html\r\n"
            "Content-Length: 41\r\n" + kServer +
                "\r\n<HTML><BODY><B>200 OK</B></BODY></HTML>\r\n");
  // An exception after the headers went out ends the connection, kept or not, with no message.
  client.Send("GET /late HTTP/1.1\r\n\r\n");
  const std::string rest = client.ReadAll(5000);
  EXPECT_EQ(rest.substr(rest.size() - 4), "\r\n\r\n") << rest;
  EXPECT_EQ(rest.find("late"), std::string::npos) << rest;
  EXPECT_TRUE(client.PeerClosed());
}

TEST(ResponseWriting, APeerThatSendsMoreWhileItIsAnsweredGetsTheWholeAnswer) {
  // A player that sends its next request while a film streams: the bytes it sent are unread
  // when the answer ends, and a close over them would reset the connection and lose the
  // answer's queued tail. 16 MiB is more than the system's buffers hold on the way.
  constexpr std::size_t kBody = 16u << 20;
  test::TestServer s;
  s.server.OnCommandGet = [](auto&, auto&, TNetHTTPResponseInfo& r) {
    r.SetBodyStream(std::make_unique<TStringStream>(std::string(kBody, 'f')));
  };
  s.Start();
  tovi::testing::RawClient client(s.Port());
  client.Send(kGet);
  std::string got = client.ReadCount(1);
  ASSERT_FALSE(got.empty());
  ASSERT_TRUE(client.Send(kGet));
  got += client.ReadAll(20000);
  const std::size_t head = got.find("\r\n\r\n");
  ASSERT_NE(head, std::string::npos);
  EXPECT_EQ(got.size() - head - 4, kBody);
  EXPECT_TRUE(client.PeerClosed());
}

}  // namespace
}  // namespace tovi::http

// The client against a scripted loopback server: the exact bytes it sends, and what the caller
// gets back from the answers real servers give (and some they should not).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "http/client/http_client.h"
#include "http/coding.h"
#include "support/raw_client.h"
#include "support/loopback.h"
#include "support/scripted_server.h"

namespace tovi::http {
namespace {

using testing::ScriptedServer;
using testing::ScriptPeer;

constexpr char kBrowser[] =
    "Mozilla/5.0 (Windows NT 6.1; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/40.0.2214.93 Safari/537.36";

const BoundaryTime kExampleTime{2026, 12, 7, 0, 35, 12, 345};

// What one call handed back: the body buffer and the exception, if any.
struct CallResult {
  std::string body;
  std::string exceptionClass;  // "" when the call returned normally
  std::string message;
  int errorCode = 0;
  std::string errorBody;
  double seconds = 0;
};

template <typename Call>
CallResult Capture(Call call) {
  CallResult r;
  const auto start = std::chrono::steady_clock::now();
  try {
    call(r.body);
  } catch (const ENetHTTPProtocolException& e) {
    r.exceptionClass = "ENetHTTPProtocolException";
    r.message = e.what();
    r.errorCode = e.ErrorCode();
    r.errorBody = e.ErrorBody();
  } catch (const ENetSocketError& e) {
    r.exceptionClass = "ENetSocketError";
    r.message = e.what();
    r.errorCode = e.LastError();
  } catch (const ENetConnClosedGracefully& e) {
    r.exceptionClass = "ENetConnClosedGracefully";
    r.message = e.what();
  } catch (const ENetReadTimeout& e) {
    r.exceptionClass = "ENetReadTimeout";
    r.message = e.what();
  } catch (const ENetReadLnMaxLineLengthExceeded& e) {
    r.exceptionClass = "ENetReadLnMaxLineLengthExceeded";
    r.message = e.what();
  } catch (const ENetHTTPResponseBodyTooLarge& e) {
    r.exceptionClass = "ENetHTTPResponseBodyTooLarge";
    r.message = e.what();
  } catch (const ENetIOHandlerPropInvalid& e) {
    r.exceptionClass = "ENetIOHandlerPropInvalid";
    r.message = e.what();
  } catch (const ENetUnknownProtocol& e) {
    r.exceptionClass = "ENetUnknownProtocol";
    r.message = e.what();
  } catch (const ENetConnectTimeout& e) {
    r.exceptionClass = "ENetConnectTimeout";
    r.message = e.what();
  } catch (const ENetNoDataToRead& e) {
    r.exceptionClass = "ENetNoDataToRead";
    r.message = e.what();
  } catch (const ENetConnectionNotAllowed& e) {
    r.exceptionClass = "ENetConnectionNotAllowed";
    r.message = e.what();
  } catch (const ENetHTTPResponseHeadTooLarge& e) {
    r.exceptionClass = "ENetHTTPResponseHeadTooLarge";
    r.message = e.what();
  } catch (const ENetHTTPInvalidHost& e) {
    r.exceptionClass = "ENetHTTPInvalidHost";
    r.message = e.what();
  } catch (const ENetHTTPInvalidHeaderValue& e) {
    r.exceptionClass = "ENetHTTPInvalidHeaderValue";
    r.message = e.what();
  } catch (const ENetException& e) {
    r.exceptionClass = "ENetException";
    r.message = e.what();
  } catch (const std::invalid_argument& e) {
    r.exceptionClass = "invalid_argument";
    r.message = e.what();
  }
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

// A script that reads one request head and answers with the given bytes, then either closes
// or keeps the connection open until the client closes it.
ScriptedServer::Script Answer(std::string answer, bool closeAfter) {
  return [answer, closeAfter](ScriptPeer& peer) {
    peer.ReadHead();
    peer.Send(answer);
    if (!closeAfter) peer.WaitForClose(10000);
  };
}

TEST(HttpClientRequest, GetSendsTheRegistrationLinesExactly) {
  ScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false));
  const std::string query = "/remote/index.php?v=1.1&do=list&localip=192.168.1.5:8027";
  {
    TNetHTTP http;
    http.Request().SetUserAgent(kBrowser);
    EXPECT_EQ(http.Get(server.Url(query)), "ok");
  }
  ASSERT_EQ(server.Received().size(), 1u);
  EXPECT_EQ(server.Received()[0],
            "GET " + query + " HTTP/1.1\r\n"
            "Content-Type: text/html\r\n"
            "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
            "Accept: text/html, */*\r\n"
            "User-Agent: " + kBrowser + "\r\n"
            "\r\n");
}

// Whether bytes are exactly one request head: lines ended by CR LF alone, the first of three
// words, one blank line at the very end.
bool IsOneWellFormedHead(const std::string& bytes) {
  if (bytes.size() < 4 || bytes.find("\r\n\r\n") != bytes.size() - 4) return false;
  std::size_t start = 0;
  for (std::size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    const std::string line = bytes.substr(start, end - start);
    for (const char c : line) {
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) return false;
    }
    if (start == 0 && std::count(line.begin(), line.end(), ' ') != 2) return false;
  }
  return start == bytes.size();
}

TEST(HttpClientRequest, UrlsGoOutAsWrittenSaveWhatWouldSplitTheRequestLine) {
  struct Case { std::string pathAndQuery; std::string target; };
  const Case cases[] = {
      {"/remote/index.php?do=uploadfile&fname=C:\\Lists\\my list.m3u&initial=TV",
       "/remote/index.php?do=uploadfile&fname=C:/Lists/my%20list.m3u&initial=TV"},
      {"/f?dir=C:\\\xc2\xe8\xe4\xe5\xee\\&x=100%25+1", "/f?dir=C:/\xc2\xe8\xe4\xe5\xee/&x=100%25+1"},
      {"/page?a=1#section?b=2", "/page?a=1"},
      {"/a/./b/../c.html", "/a/./b/../c.html"},
      {"", "/"},
      // A second request smuggled into the path, then into the query.
      {"/a HTTP/1.1\r\nHost: x\r\n\r\nPOST /admin HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
       "/a%20HTTP/1.1%0D%0AHost:%20x%0D%0A%0D%0APOST%20/admin%20HTTP/1.1%0D%0A"
       "Content-Length:%205%0D%0A%0D%0Ahello"},
      {"/q?x=1 HTTP/1.0\n\nGET /other", "/q?x=1%20HTTP/1.0%0A%0AGET%20/other"},
      {std::string("/n\0ul\x01\x1F\x7F\tend?\x1B[2J", 17), "/n%00ul%01%1F%7F%09end?%1B[2J"},
  };
  for (const Case& c : cases) {
    ScriptedServer server(Answer("HTTP/1.0 200 OK\r\n\r\n", true));
    TNetHTTP http;
    http.Get(server.Url(c.pathAndQuery));
    ASSERT_EQ(server.Received().size(), 1u);
    const std::string sent = server.Received()[0];
    EXPECT_EQ(sent.substr(0, sent.find("\r\n")), "GET " + c.target + " HTTP/1.1") << c.target;
    EXPECT_TRUE(IsOneWellFormedHead(sent)) << sent;
  }
}

TEST(HttpClientRequest, HostsAndHeaderValuesThatWouldBreakALineAreRefused) {
  ScriptedServer server(Answer("HTTP/1.0 200 OK\r\n\r\n", true));
  const std::string port = std::to_string(server.Port());
  struct Case {
    const char* what;
    std::string url;
    std::function<void(TNetHTTP&)> set;
    const char* exceptionClass;
    const char* message;
  };
  const auto none = [](TNetHTTP&) {};
  const Case cases[] = {
      {"CR LF in the host", "http://127.0.0.1\r\nX-Injected: 1:" + port + "/", none,
       "ENetHTTPInvalidHost", "Invalid character in host name."},
      {"TAB in the host", "http://127.0.0.1\t:" + port + "/", none, "ENetHTTPInvalidHost",
       "Invalid character in host name."},
      {"NUL in the host", std::string("http://127.0.0.1\0.example:", 26) + port + "/", none,
       "ENetHTTPInvalidHost", "Invalid character in host name."},
      {"LF in the referer", server.Url("/"),
       [](TNetHTTP& h) { h.Request().SetReferer("http://a/\nX-Injected: 1"); },
       "ENetHTTPInvalidHeaderValue", "Invalid character in header value."},
      {"CR in the user agent", server.Url("/"),
       [](TNetHTTP& h) { h.Request().SetUserAgent("agent\rX-Injected: 1"); },
       "ENetHTTPInvalidHeaderValue", "Invalid character in header value."},
      {"a custom line with CR LF", server.Url("/"),
       [](TNetHTTP& h) { h.Request().CustomHeaders().Add("X-A: 1\r\n\r\nGET /b HTTP/1.1"); },
       "ENetHTTPInvalidHeaderValue", "Invalid character in header value."},
      {"TAB in a value is fine", server.Url("/"),
       [](TNetHTTP& h) { h.Request().SetReferer("a\tb"); }, "", ""},
  };
  for (const Case& c : cases) {
    TNetHTTP http;
    c.set(http);
    const CallResult r = Capture([&](std::string& body) { http.Get(c.url, body); });
    EXPECT_EQ(r.exceptionClass, c.exceptionClass) << c.what;
    EXPECT_EQ(r.message, c.message) << c.what;
  }
  // Refused before a connection: nothing reached the server but the one good request.
  std::size_t sent = 0;
  for (const std::string& bytes : server.Received()) {
    if (!bytes.empty()) {
      ++sent;
      EXPECT_TRUE(IsOneWellFormedHead(bytes)) << bytes;
    }
  }
  EXPECT_EQ(sent, 1u);
  EXPECT_EQ(server.Connections(), 1);

  // A cookie a server set with a control byte in it would go back on a line of ours: ignored.
  ScriptedServer cookies([](ScriptPeer& peer) {
    for (int i = 0; i < 2; ++i) {
      const std::string head = peer.ReadHead(3000);
      if (head.empty()) return;
      peer.Send("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\rX-Injected: 1\r\nSet-Cookie: b=2\r\n"
                "Content-Length: " + std::to_string(head.size()) + "\r\n\r\n" + head);
    }
  });
  TNetHTTP http;
  http.Get(cookies.Url("/first"));
  const std::string second = http.Get(cookies.Url("/second"));
  EXPECT_TRUE(IsOneWellFormedHead(second)) << second;
  EXPECT_NE(second.find("\r\nCookie: b=2\r\n"), std::string::npos) << second;
}

TEST(HttpClientRequest, PostSendsTheFormAsHttp10WithKeepAlive) {
  std::string body;
  ScriptedServer server([&](ScriptPeer& peer) {
    const std::string head = peer.ReadHead();
    const std::size_t at = head.find("Content-Length: ");
    const std::size_t length = std::stoul(head.substr(at + 16));
    body = peer.ReadBytes(length);
    peer.Send("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nstored");
  });
  TNetMultiPartFormDataStream form(kExampleTime);
  form.AddTextField("text", "abc");
  TNetHTTP http;
  EXPECT_EQ(http.Post(server.Url("/remote/index.php?do=uploadfile&fname=a.m3u&initial=TV"), form),
            "stored");
  ASSERT_EQ(server.Received().size(), 1u);
  EXPECT_EQ(server.Received()[0],
            "POST /remote/index.php?do=uploadfile&fname=a.m3u&initial=TV HTTP/1.0\r\n"
            "Connection: keep-alive\r\n"
            "Content-Type: multipart/form-data; boundary=--------120726003512345\r\n"
            "Content-Length: 110\r\n"
            "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
            "Accept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; NetHTTP Library)\r\n"
            "\r\n" + body);
  EXPECT_EQ(body.size(), 110u);
  EXPECT_EQ(http.ProtocolVersion(), TNetHTTPProtocolVersion::pv1_1) << "restored after the call";
}

TEST(HttpClientRequest, HostLineLeavesOutPort80) {
  // Through a proxy the request line names the whole URL and the Host line the URL's host.
  struct Case { std::string url; std::string requestLine; std::string host; };
  const Case cases[] = {
      {"http://list.example/remote/index.php?x=1",
       "GET http://list.example/remote/index.php?x=1 HTTP/1.1", "Host: list.example\r\n"},
      {"http://list.example:80/", "GET http://list.example/ HTTP/1.1", "Host: list.example\r\n"},
      {"http://list.example:8027/a", "GET http://list.example:8027/a HTTP/1.1",
       "Host: list.example:8027\r\n"},
  };
  for (const Case& c : cases) {
    ScriptedServer proxy(Answer("HTTP/1.0 200 OK\r\n\r\n", true));
    TNetHTTP http;
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(proxy.Port());
    http.Get(c.url);
    ASSERT_EQ(proxy.Received().size(), 1u);
    const std::string sent = proxy.Received()[0];
    EXPECT_EQ(sent.substr(0, sent.find("\r\n")), c.requestLine);
    EXPECT_NE(sent.find("\r\n" + c.host), std::string::npos) << sent;
  }
}

TEST(HttpClientRequest, FailsBeforeSendingAnything) {
  ScriptedServer server(Answer("HTTP/1.0 200 OK\r\n\r\n", true));
  const std::string port = std::to_string(server.Port());
  struct Case { std::string url; const char* exceptionClass; std::string message; };
  const Case cases[] = {
      {"https://127.0.0.1:" + port + "/", "ENetIOHandlerPropInvalid", "IOHandler value is not valid"},
      {"HTTPS://127.0.0.1/", "ENetIOHandlerPropInvalid", "IOHandler value is not valid"},
      {"ftp://127.0.0.1/x", "ENetUnknownProtocol", ""},
      {"http://127.0.0.1:8o27/", "invalid_argument", "'8o27' is not a valid integer value"},
  };
  for (const Case& c : cases) {
    TNetHTTP http;
    const CallResult r = Capture([&](std::string& body) { http.Get(c.url, body); });
    EXPECT_EQ(r.exceptionClass, c.exceptionClass) << c.url;
    EXPECT_EQ(r.message, c.message) << c.url;
  }
  EXPECT_EQ(server.Connections(), 0);

  TNetHTTP http;
  const CallResult refused = Capture([&](std::string& body) {
    http.Get("http://127.0.0.1:" + std::to_string(testing::FreePort()) + "/", body);
  });
  EXPECT_EQ(refused.exceptionClass, "ENetSocketError");
  EXPECT_EQ(refused.message, "Socket Error # 10061\r\nConnection refused.");
}

TEST(HttpClientRequest, EndpointCheckSeesTheAddressALookupGaveAndCanRefuse) {
  ScriptedServer server(Answer("HTTP/1.0 200 OK\r\n\r\nok", true));
  const std::string port = std::to_string(server.Port());
  // Short and decimal forms of 127.0.0.1 are read by the system's lookup, like any name.
  for (const char* host : {"127.0.0.1", "127.1", "2130706433", "LocalHost"}) {
    for (const bool allow : {false, true}) {
      std::vector<std::string> asked;
      TNetHTTP http;
      http.OnCheckEndpoint = [&](const net::Endpoint& e) {
        asked.push_back(AddressToDotted(e.address) + ":" + std::to_string(e.port));
        return allow;
      };
      const CallResult r = Capture(
          [&](std::string& body) { http.Get("http://" + std::string(host) + ":" + port + "/", body); });
      EXPECT_EQ(asked, std::vector<std::string>{"127.0.0.1:" + port}) << host;
      EXPECT_EQ(r.exceptionClass, allow ? "" : "ENetConnectionNotAllowed") << host;
      EXPECT_EQ(r.message, allow ? "" : "Connection not allowed.") << host;
      EXPECT_EQ(r.body, allow ? "ok" : "") << host;
    }
  }
  EXPECT_EQ(server.Connections(), 4);  // the allowed calls alone
}

struct AnswerCase {
  const char* name;
  std::string answer;
  bool closeAfter;
  const char* exceptionClass;
  std::string message;
  std::string body;  // what the call hands back
  int errorCode;
  std::string errorBody;
};

std::string LongHeader(std::size_t lineLength) {
  return "X-Long: " + std::string(lineLength - 8, 'a');
}

// count header lines, each with its CR LF.
std::string HeaderLines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += "X-Line-" + std::to_string(i) + ": v\r\n";
  return lines;
}

// A head of 17 + 3 * 16386 + (last + 2) bytes: 65536 with a last line of 16359.
std::string HeadOf64KiB(std::size_t lastLine) {
  return "HTTP/1.0 200 OK\r\n" + LongHeader(16384) + "\r\n" + LongHeader(16384) + "\r\n" +
         LongHeader(16384) + "\r\n" + LongHeader(lastLine) + "\r\n\r\nfine";
}

std::string ContinuedHeader(int continuations) {
  std::string lines = "X-Folded: a\r\n";
  for (int i = 0; i < continuations; ++i) lines += " b\r\n";
  return lines;
}

const AnswerCase kAnswers[] = {
    {"counted", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", false, "", "", "hello", 0, ""},
    {"chunked 1A and 0",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1A\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
     false, "", "", "abcdefghijklmnopqrstuvwxyz", 0, ""},
    {"chunk with an extension",
     "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n2\r\nde\r\n0\r\n\r\n",
     false, "", "", "abcde", 0, ""},
    {"length wins over chunked",
     "HTTP/1.1 200 OK\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\nxyz", false, "",
     "", "xyz", 0, ""},
    {"length 10, 4 bytes, close", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabcd", true, "",
     "", "abcd", 0, ""},
    {"no length: until close", "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nto the end\r\n",
     true, "", "", "to the end\r\n", 0, ""},
    {"100 Continue first",
     "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", false, "",
     "", "ok", 0, ""},
    {"103 Early Hints first",
     "HTTP/1.1 103 Early Hints\r\nLink: </s.css>; rel=preload\r\n\r\nHTTP/1.1 200 OK\r\n"
     "Content-Length: 2\r\n\r\nok",
     false, "", "", "ok", 0, ""},
    {"101 is an error", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: x\r\n\r\n", false,
     "ENetHTTPProtocolException", "HTTP/1.1 101 Switching Protocols", "", 101, ""},
    {"204 has no body", "HTTP/1.1 204 No Content\r\n\r\n", false, "", "", "", 0, ""},
    {"304 is an error", "HTTP/1.1 304 Not Modified\r\n\r\n", false, "ENetHTTPProtocolException",
     "HTTP/1.1 304 Not Modified", "", 304, ""},
    {"302 is not followed",
     "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved", false,
     "ENetHTTPProtocolException", "HTTP/1.1 302 Found", "", 302, "moved"},
    {"200 with a Location",
     "HTTP/1.1 200 OK\r\nLocation: http://127.0.0.1:1/\r\nContent-Length: 4\r\n\r\nbody", false,
     "ENetHTTPProtocolException", "HTTP/1.1 200 OK", "", 200, "body"},
    {"404 with its body", "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno such x", false,
     "ENetHTTPProtocolException", "HTTP/1.1 404 Not Found", "", 404, "no such x"},
    {"500 until close", "HTTP/1.0 500 Internal Server Error\r\n\r\nboom", true,
     "ENetHTTPProtocolException", "HTTP/1.0 500 Internal Server Error", "", 500, "boom"},
    {"status line without a code", "garbage\r\n\r\n", true, "ENetHTTPProtocolException",
     "garbage", "", -1, ""},
    {"close without an answer", "", true, "ENetConnClosedGracefully",
     "Connection Closed Gracefully.", "", 0, ""},
    {"chunk cut off", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", true,
     "ENetConnClosedGracefully", "Connection Closed Gracefully.", "ab", 0, ""},
    {"head cut off on a 2xx", "HTTP/1.1 200 OK\r\nX-Partial: y", true, "ENetException",
     "Undefined situation", "", 0, ""},
    {"header line of 16384 bytes",
     "HTTP/1.0 200 OK\r\n" + LongHeader(16384) + "\r\n\r\nfine", true, "", "", "fine", 0, ""},
    {"header line of 16385 bytes", "HTTP/1.0 200 OK\r\n" + LongHeader(16385) + "\r\n\r\n", true,
     "ENetReadLnMaxLineLengthExceeded", "Max line length exceeded.", "", 0, ""},
    {"100 header lines", "HTTP/1.0 200 OK\r\n" + HeaderLines(100) + "\r\nfine", true, "", "",
     "fine", 0, ""},
    {"101 header lines", "HTTP/1.0 200 OK\r\n" + HeaderLines(101) + "\r\nnever", true,
     "ENetHTTPResponseHeadTooLarge", "Response head too large.", "", 0, ""},
    {"101 with continuation lines", "HTTP/1.0 200 OK\r\n" + ContinuedHeader(100) + "\r\nnever",
     true, "ENetHTTPResponseHeadTooLarge", "Response head too large.", "", 0, ""},
    {"101 with an interim response's",
     "HTTP/1.1 100 Continue\r\n" + HeaderLines(60) + "\r\nHTTP/1.0 200 OK\r\n" +
         HeaderLines(41) + "\r\nnever",
     true, "ENetHTTPResponseHeadTooLarge", "Response head too large.", "", 0, ""},
    {"interim heads of 64 KiB and more",
     [] {
       std::string heads;
       for (int i = 0; i < 2600; ++i) heads += "HTTP/1.1 103 Early Hints\r\n\r\n";  // 26 each
       return heads + "HTTP/1.0 200 OK\r\n\r\nnever";
     }(),
     true, "ENetHTTPResponseHeadTooLarge", "Response head too large.", "", 0, ""},
    {"a head of 64 KiB", HeadOf64KiB(16359), true, "", "", "fine", 0, ""},
    {"a head of 64 KiB and a byte", HeadOf64KiB(16360), true, "ENetHTTPResponseHeadTooLarge",
     "Response head too large.", "", 0, ""},
    {"a megabyte counted",
     "HTTP/1.1 200 OK\r\nContent-Length: 1048576\r\n\r\n" + std::string(1048576, '\xab'), false,
     "", "", std::string(1048576, '\xab'), 0, ""},
};

TEST(HttpClientResponse, AnswersAsTheCallerSeesThem) {
  for (const AnswerCase& c : kAnswers) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(Answer(c.answer, c.closeAfter));
    TNetHTTP http;
    const CallResult r = Capture([&](std::string& body) { http.Get(server.Url("/page"), body); });
    EXPECT_EQ(r.exceptionClass, c.exceptionClass);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.body.size(), c.body.size());
    EXPECT_TRUE(r.body == c.body);
    if (std::string(c.exceptionClass) == "ENetHTTPProtocolException") {
      EXPECT_EQ(r.errorCode, c.errorCode);
      EXPECT_EQ(r.errorBody, c.errorBody);
    }
    EXPECT_LT(r.seconds, 4.0) << "the call waited for the server to close";
    EXPECT_EQ(server.Connections(), 1) << "nothing else was requested";
  }
}

TEST(HttpClientResponse, AnAbortOrTheDeadlineEndsTheReadingOfAHeadAlreadyReceived) {
  // The whole answer comes in one piece, so no read waits again after the status line: the
  // stop must be noticed between the lines.
  const std::string answer =
      "HTTP/1.1 200 OK\r\n" + HeaderLines(50) + "Content-Length: 2\r\n\r\nok";
  struct Case { bool byDeadline; const char* exceptionClass; const char* message; };
  const Case cases[] = {
      {false, "ENetSocketError", "Socket Error # 10004\r\nInterrupted system call."},
      {true, "ENetReadTimeout", "Read Timeout"},
  };
  for (const Case& c : cases) {
    ScriptedServer server(Answer(answer, false));
    TNetHTTP http;
    // Once the first header line is in: the switch-off, or the fetch's time is up.
    http.SetAbortSource([&http, &c] {
      if (http.Response().HeaderLines().Count() == 0) return false;
      if (!c.byDeadline) return true;
      http.SetReadDeadline(TNetHTTP::Clock::now() - std::chrono::milliseconds(1));
      return false;
    });
    const CallResult r = Capture([&](std::string& body) { http.Get(server.Url("/"), body); });
    EXPECT_EQ(r.exceptionClass, c.exceptionClass);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(http.Response().HeaderLines().Count(), 1u) << "read on after the stop";
  }
}

TEST(HttpClientResponse, ReadTimeoutEndsAStalledTransferWithWhatArrived) {
  struct Case { const char* answer; const char* body; };
  const Case cases[] = {
      {"", ""},                                                       // no status line
      {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npart", "part"},  // body stalls
  };
  for (const Case& c : cases) {
    ScriptedServer server(Answer(c.answer, false));
    TNetHTTP http;
    http.SetReadTimeout(300);
    const CallResult r = Capture([&](std::string& body) { http.Get(server.Url("/"), body); });
    EXPECT_EQ(r.exceptionClass, "ENetReadTimeout");
    EXPECT_EQ(r.message, "Read Timeout");
    EXPECT_EQ(r.body, c.body);
    EXPECT_GE(r.seconds, 0.25);
    EXPECT_LT(r.seconds, 5.0);
  }
}

TEST(HttpClientResponse, MaxBodyLengthKeepsTheFirstBytesAndStops) {
  struct Case { std::string answer; bool closeAfter; };
  // Far over the limit and one byte over it, in each of the three body forms.
  for (const char* hexSize : {"1388", "3E9"}) {
    const std::string big(std::stoul(hexSize, nullptr, 16), 'z');
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n" + big,
         false},
        // Lengths past 32 and past 63 bits: counted, or read as if none was given.
        {"HTTP/1.1 200 OK\r\nContent-Length: 5000000000\r\n\r\n" + big, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n" + big, false},
        {"HTTP/1.0 200 OK\r\n\r\n" + big, false},  // until close, and the server never closes
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(hexSize) + "\r\n" +
             big + "\r\n0\r\n\r\n",
         false},
    };
    for (const Case& c : cases) {
      ScriptedServer server(Answer(c.answer, c.closeAfter));
      TNetHTTP http;
      http.SetMaxBodyLength(1000);
      const CallResult r = Capture([&](std::string& body) { http.Get(server.Url("/"), body); });
      EXPECT_EQ(r.exceptionClass, "ENetHTTPResponseBodyTooLarge") << c.answer.substr(0, 40);
      EXPECT_EQ(r.message, "Response body too large.");
      EXPECT_EQ(r.body, std::string(1000, 'z'));
      EXPECT_LT(r.seconds, 4.0);
    }
  }
  const std::string k1000(1000, 'z');
  const Case exactCases[] = {
      {"HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + k1000, false},
      {"HTTP/1.0 200 OK\r\n\r\n" + k1000, true},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3E8\r\n" + k1000 + "\r\n0\r\n\r\n",
       false},
  };
  for (const Case& c : exactCases) {
    ScriptedServer exact(Answer(c.answer, c.closeAfter));
    TNetHTTP http;
    http.SetMaxBodyLength(1000);
    EXPECT_EQ(http.Get(exact.Url("/")), k1000)
        << "a body of exactly the limit is whole: " << c.answer.substr(0, 40);
  }
}

TEST(HttpClientSettings, RedirectsAreFollowedWhenAsked) {
  // Each connection: the first answers 302 to /second, later ones answer with their target.
  ScriptedServer server([](ScriptPeer& peer) {
    const std::string head = peer.ReadHead();
    const std::size_t length = head.find("Content-Length: ") == std::string::npos
                                   ? 0
                                   : std::stoul(head.substr(head.find("Content-Length: ") + 16));
    const std::string body = peer.ReadBytes(length);
    const std::string target = head.substr(head.find(' ') + 1, head.find(" HTTP/") - head.find(' ') - 1);
    if (target == "/first") {
      peer.Send("HTTP/1.1 302 Found\r\nLocation: /second\r\nConnection: close\r\n\r\n");
      return;
    }
    const std::string answer = head.substr(0, head.find(' ')) + " " + target + " " + std::to_string(body.size());
    peer.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(answer.size()) + "\r\n\r\n" + answer);
  });
  {
    TNetHTTP http;
    http.SetHandleRedirects(true);
    EXPECT_EQ(http.Get(server.Url("/first")), "GET /second 0");
    EXPECT_EQ(http.RedirectCount(), 0) << "reset when the call ends";
  }
  {
    TNetMultiPartFormDataStream form(kExampleTime);
    form.AddTextField("text", "abc");
    TNetHTTP http;
    http.SetHandleRedirects(true);
    EXPECT_EQ(http.Post(server.Url("/first"), form), "POST /second 110") << "the body goes again";
  }
  {
    TNetHTTP http;
    http.SetHandleRedirects(true);
    http.SetRedirectMaximum(1);
    std::string body = "kept";
    http.Get(server.Url("/first"), body);
    EXPECT_EQ(body, "kept") << "limit reached: ends normally without a body";
    EXPECT_EQ(http.Response().Location(), "/second");
  }
  {
    TNetHTTP http;
    http.SetHandleRedirects(true);
    int seen = 0;
    http.OnRedirect = [&](std::string& destination, int count, bool& handled, TNetHTTPMethod&) {
      seen = count;
      EXPECT_EQ(destination, "/second");
      handled = false;
    };
    const CallResult r = Capture([&](std::string& body) { http.Get(server.Url("/first"), body); });
    EXPECT_EQ(r.exceptionClass, "ENetHTTPProtocolException");
    EXPECT_EQ(r.message, "HTTP/1.1 302 Found");
    EXPECT_EQ(seen, 1);
  }
}

TEST(HttpClientSettings, KeepAliveCookiesAndVersionAcrossCalls) {
  // One connection serves requests until the client closes it; each answer echoes the head.
  ScriptedServer server([](ScriptPeer& peer) {
    for (int i = 0; i < 10; ++i) {
      const std::string head = peer.ReadHead(3000);
      if (head.empty()) return;
      peer.Send("HTTP/1.1 200 OK\r\nSet-Cookie: sid=42; Path=/\r\nContent-Length: " +
                std::to_string(head.size()) + "\r\n\r\n" + head);
    }
  });
  TNetHTTP http;
  const std::string first = http.Get(server.Url("/a"));
  EXPECT_EQ(first.find("Cookie:"), std::string::npos);
  const std::string second = http.Get(server.Url("/b"));
  EXPECT_NE(second.find("\r\nCookie: sid=42\r\n"), std::string::npos) << second;
  EXPECT_EQ(server.Connections(), 1) << "HTTP/1.1 keeps the connection";

  http.SetAllowCookies(false);
  http.SetProtocolVersion(TNetHTTPProtocolVersion::pv1_0);
  const std::string third = http.Get(server.Url("/c"));
  EXPECT_EQ(third.substr(0, third.find("\r\n")), "GET /c HTTP/1.0");
  EXPECT_NE(third.find("\r\nConnection: keep-alive\r\n"), std::string::npos);
  EXPECT_EQ(third.find("Cookie:"), std::string::npos);
  // The answer had no "keep-alive", so HTTP/1.0 does not keep the connection.
  http.Get(server.Url("/d"));
  EXPECT_EQ(server.Connections(), 2);
}

TEST(HttpClientCookies, AJarKeepsTheNewestWithinItsBoundAtLinearCost) {
  // Far more than a head brings: each set costs its own length, not the jar's size.
  constexpr std::size_t kSet = 200000;
  constexpr std::size_t kMax = TNetCookieManager::kMaxCookies;
  TNetCookieManager jar;
  for (std::size_t i = 0; i < kSet; ++i)
    jar.AddServerCookie("c" + std::to_string(i) + "=v; Path=/", "example.com", "/");
  EXPECT_EQ(jar.Count(), kMax);
  for (std::size_t i = 0; i < kSet; ++i)
    jar.AddServerCookie("same=" + std::to_string(i), "example.com", "/");
  EXPECT_EQ(jar.Count(), kMax) << "one name, domain and path is one cookie";
  jar.AddServerCookie("c" + std::to_string(kSet - 1) + "=gone; Max-Age=0", "example.com", "/");
  EXPECT_EQ(jar.Count(), kMax - 1);

  // The newest, in the order they were set.
  std::string expected;
  for (std::size_t i = kSet - kMax + 1; i < kSet - 1; ++i)
    expected += "c" + std::to_string(i) + "=v; ";
  expected += "same=" + std::to_string(kSet - 1);
  EXPECT_TRUE(jar.CookieHeader("example.com", "/") == expected);
}

TEST(HttpClientSettings, SmallBuffersSplitLinesAndCredentials) {
  // Answers 401 until the request carries u:pw, then 200 with a header line over the limit.
  std::string received;
  ScriptedServer server([&](ScriptPeer& peer) {
    for (int i = 0; i < 3; ++i) {
      const std::string head = peer.ReadHead(3000);
      if (head.empty()) return;
      const std::string body = peer.ReadBytes(110);
      if (head.find("\r\nAuthorization: Basic dTpwdw==\r\n") == std::string::npos) {
        peer.Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
                  "Content-Length: 0\r\n\r\n");
        continue;
      }
      received = head + body;
      peer.Send("HTTP/1.1 200 OK\r\n" + LongHeader(20000) + "\r\nContent-Length: 2\r\n\r\nok");
      peer.WaitForClose(3000);
      return;
    }
  });
  TNetMultiPartFormDataStream form(kExampleTime);
  form.AddTextField("text", "abc");
  TNetHTTP http;
  http.SetHTTPOptions(hoKeepOrigProtocol);
  http.SetSendBufferSize(7);
  http.SetRecvBufferSize(3);
  http.SetMaxLineAction(TNetMaxLineAction::maSplit);
  std::vector<std::string> challenges;
  http.OnAuthorization = [&](const std::vector<std::string>& c, bool& handled) {
    challenges = c;
    http.Request().SetUsername("u");
    http.Request().SetPassword("pw");
    handled = true;
  };
  EXPECT_EQ(http.Post(server.Url("/up"), form), "ok");
  ASSERT_EQ(challenges.size(), 1u);
  EXPECT_EQ(challenges[0], "Basic realm=\"r\"");
  EXPECT_EQ(received.substr(0, received.find("\r\n")), "POST /up HTTP/1.1") << "protocol kept";
  EXPECT_EQ(received.find("Connection:"), std::string::npos);
  form.SetPosition(0);
  std::string expectedBody(110, '\0');
  form.Read(expectedBody.data(), 110);
  EXPECT_EQ(received.substr(received.size() - 110), expectedBody);
}

TEST(HttpClientSettings, AConnectEndsAtItsOwnLimitElseTheReadLimitOrWhenAborted) {
  tovi::testing::FullBacklog backlog;  // further connects to it hang
  if (!backlog.Hanging()) GTEST_SKIP() << "this system accepted every connect; none could hang";
  struct Case {
    int readMs, connectMs, abortAfterMs;
    const char* exceptionClass;
  };
  const Case cases[] = {
      {400, 0, 0, "ENetConnectTimeout"},      // the read limit stands in for a connect limit
      {20000, 400, 0, "ENetConnectTimeout"},  // a connect limit of its own wins
      {0, 0, 400, "ENetSocketError"},         // no limit at all, but the abort source ends it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.readMs) + "/" + std::to_string(c.connectMs));
    TNetHTTP http;
    http.SetReadTimeout(c.readMs);
    http.SetConnectTimeout(c.connectMs);
    const auto start = std::chrono::steady_clock::now();
    if (c.abortAfterMs > 0) {
      http.SetAbortSource([&] {
        return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(c.abortAfterMs);
      });
    }
    const CallResult r = Capture([&](std::string& body) {
      http.Get("http://127.0.0.1:" + std::to_string(backlog.Port()) + "/", body);
    });
    EXPECT_EQ(r.exceptionClass, c.exceptionClass);
    if (c.abortAfterMs == 0) {
      EXPECT_EQ(r.message, "Connect timed out.");
    }
    EXPECT_GE(r.seconds, 0.35);
    EXPECT_LT(r.seconds, 3.0);
  }
}

// A body source that promises more bytes than it has.
class ShortStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  std::int64_t Size() const override { return TMemoryStream::Size() + 5; }
};

TEST(HttpClientSettings, ABodySourceThatEndsEarlyFails) {
  ScriptedServer server(Answer("HTTP/1.0 200 OK\r\n\r\n", true));
  ShortStream source("abc");
  TNetHTTP http;
  const CallResult r =
      Capture([&](std::string& body) { http.Post(server.Url("/"), source, body); });
  EXPECT_EQ(r.exceptionClass, "ENetNoDataToRead");
  EXPECT_EQ(r.message, "No data to read.");
}

TEST(HttpClientSettings, TheDeadlineEndsABodyThePeerTakesSlowly) {
  // The peer takes the head and then nothing: the body stays in the send, not in a read.
  ScriptedServer server([](ScriptPeer& peer) {
    peer.ReadHead();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  });
  TMemoryStream source(std::string(32 << 20, 'x'));
  TNetHTTP http;
  http.SetReadDeadline(TNetHTTP::Clock::now() + std::chrono::milliseconds(300));
  const CallResult r =
      Capture([&](std::string& body) { http.Post(server.Url("/"), source, body); });
  EXPECT_EQ(r.exceptionClass, "ENetReadTimeout");
  EXPECT_LT(r.seconds, 1.5);
}

TEST(HttpClientSettings, PortAppliesWhenTheUrlGivesNone) {
  ScriptedServer server(Answer("HTTP/1.0 200 OK\r\n\r\nhere", true));
  TNetHTTP http;
  http.SetPort(server.Port());
  EXPECT_EQ(http.Get("http://127.0.0.1/x"), "here");
  EXPECT_EQ(http.Port(), server.Port());
}

}  // namespace
}  // namespace tovi::http

// Fuzzes the client's response reading: the input is everything a server on loopback answers
// before it closes. A GET must end, normally or with an ENet exception, and hand back no more
// bytes than the server sent (nor more than MaxBodyLength when set). The input's length picks
// the settings, so one corpus covers them all: bit 0 maSplit, bit 1 MaxBodyLength 64, bit 2
// HTTP/1.0. A length that is a multiple of 8 keeps the defaults, which the program's fetches
// use (the seed product_defaults).
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include "http/client/http_client.h"
#include "platform/socket.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// One listener for the whole run; each accepted connection gets the answer set last.
class Answerer {
 public:
  Answerer() {
    tovi::net::Startup();
    listener_ = tovi::net::OpenStream();
    tovi::net::Endpoint e;
    e.address[0] = 127;
    e.address[3] = 1;
    if (tovi::net::Bind(listener_, e) != 0 || tovi::net::Listen(listener_, 4) != 0) Fail("listen");
    tovi::net::LocalEndpoint(listener_, &e);
    port_ = e.port;
    std::thread([this] { Serve(); }).detach();
  }
  int Port() const { return port_; }
  void SetAnswer(std::string answer) {
    std::lock_guard<std::mutex> guard(lock_);
    answer_ = std::move(answer);
  }

 private:
  void Serve() {
    for (;;) {
      tovi::net::SocketHandle s = tovi::net::Accept(listener_, nullptr);
      if (s == tovi::net::kInvalidSocket) continue;
      std::string answer;
      {
        std::lock_guard<std::mutex> guard(lock_);
        answer = answer_;
      }
      // Take the request head first, so closing does not reset the connection.
      std::string head;
      char chunk[4096];
      while (head.find("\r\n\r\n") == std::string::npos &&
             tovi::net::WaitReadable(s, 2000) == 1) {
        const long n = tovi::net::Recv(s, chunk, sizeof chunk);
        if (n <= 0) break;
        head.append(chunk, static_cast<std::size_t>(n));
      }
      std::size_t sent = 0;
      while (sent < answer.size()) {
        const long n = tovi::net::Send(s, answer.data() + sent, answer.size() - sent);
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
      }
      tovi::net::ShutdownSend(s);
      // Wait for the client's close, so no unread byte turns our close into a reset.
      while (tovi::net::WaitReadable(s, 2000) == 1 && tovi::net::Recv(s, chunk, sizeof chunk) > 0) {
      }
      tovi::net::Close(s);
    }
  }

  tovi::net::SocketHandle listener_;
  int port_ = 0;
  std::mutex lock_;
  std::string answer_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Answerer answerer;
  const std::size_t flags = size % 8;
  const std::string answer(reinterpret_cast<const char*>(data), size);
  answerer.SetAnswer(answer);

  tovi::http::TNetHTTP http;
  http.SetReadTimeout(5000);
  if (flags & 1) http.SetMaxLineAction(tovi::http::TNetMaxLineAction::maSplit);
  if (flags & 2) http.SetMaxBodyLength(64);
  if (flags & 4) http.SetProtocolVersion(tovi::http::TNetHTTPProtocolVersion::pv1_0);
  std::string body;
  bool ended = false;
  try {
    http.Get("http://127.0.0.1:" + std::to_string(answerer.Port()) + "/page?x=1", body);
    ended = true;
  } catch (const tovi::http::ENetHTTPProtocolException& e) {
    if (!body.empty()) Fail("an error status handed back a body");
    if (e.ErrorBody().size() > answer.size()) Fail("error body longer than the answer");
  } catch (const tovi::http::ENetReadTimeout&) {
    Fail("waited although the server had closed");
  } catch (const tovi::http::ENetException&) {
  }
  if (body.size() > answer.size()) Fail("body longer than the answer");
  if ((flags & 2) && body.size() > 64) Fail("body beyond MaxBodyLength");
  if (ended && http.Response().StatusCode() / 100 != 2 && http.Response().Location().empty())
    Fail("a call ended normally on a status that is not 2xx");
  return 0;
}

// Runs the server engine's request loop on the calling thread over a socket pair: the fuzz
// input is what a client sent (then it shut down its sending side); the answer is what it got.
// Deterministic and without listener threads, so a crash points at the input alone.
#pragma once
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "http/server/http_server.h"
#include "platform/socket.h"

namespace tovi::fuzz {

class LoopServer : public http::TNetHTTPServer {
 public:
  using http::TNetCustomHTTPServer::DoExecute;
};

// A broken promise of the code under test: reported like a sanitizer finding.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

// Sends `request`, runs one connection's request loop, returns every byte the server wrote.
inline std::string Exchange(LoopServer& server, std::string_view request) {
  static const bool started = net::Startup();
  (void)started;
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) Fail("socketpair");
  // Room for the whole request and answer, so neither side ever waits on the other.
  const int room = 4 << 20;
  setsockopt(pair[0], SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room);
  setsockopt(pair[1], SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room);
  std::size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = ::send(pair[1], request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) Fail("send to the pair");
    sent += static_cast<std::size_t>(n);
  }
  ::shutdown(pair[1], SHUT_WR);

  auto connection = std::make_unique<http::TNetTCPServerConnection>();
  connection->Attach(pair[0]);
  {
    http::TNetPeerThread thread(server, std::move(connection));
    try {
      server.DoExecute(thread);
    } catch (const std::exception&) {
      // Refusals (line too long, head too large, bad command) end the connection: expected.
    }
  }
  std::string answer;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::recv(pair[1], buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pair[1]);
  return answer;
}

}  // namespace tovi::fuzz

// A raw loopback listener for byte-exact checks: accepts connections on a free port, keeps every
// byte received (the head, then as many body bytes as its Content-Length says) and answers each
// connection with a fixed response, after answerDelayMs. Works on both builds (platform
// sockets); one thread, stopped and joined in the destructor.
#pragma once
#include <memory>
#include <string>
#include <vector>

namespace tovi::remote::testing {

class RawListener {
 public:
  explicit RawListener(std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK",
                       int answerDelayMs = 0);
  ~RawListener();
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;

  int Port() const { return port_; }
  std::string HostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<std::string> Received() const;  // one entry per request, kept before its answer
  bool WaitForConnections(std::size_t count, int timeoutMs) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
  int port_ = 0;
};

}  // namespace tovi::remote::testing

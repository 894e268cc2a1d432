// Loopback addresses and ports for tests that open sockets (both builds, platform sockets).
#pragma once
#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace tovi::testing {

// 127.0.0.lastByte:port (Linux routes all of 127/8 to loopback; Windows only 127.0.0.1).
net::Endpoint Loopback(std::uint16_t port, std::uint8_t lastByte = 1);
std::string LoopbackHost(std::uint16_t port);  // "127.0.0.1:port"

// A port nothing listens on right now (bound once, then released): another process may take
// it before the caller binds it, so a caller that starts a server tries again on failure.
std::uint16_t FreePort();

// Asks for a receive buffer of `bytes` on s; before the connect, the window the peer is offered
// is that small too, and a large answer soon fills it. False when refused.
bool SetReceiveBuffer(net::SocketHandle s, int bytes);

// Both ends of one loopback connection, closed when it goes. (Not near and far: Windows
// headers define those as macros.)
struct Connected {
  net::SocketHandle local = net::kInvalidSocket;   // the accepted end: the one under test
  net::SocketHandle remote = net::kInvalidSocket;  // the peer

  Connected();
  ~Connected();
  Connected(const Connected&) = delete;
  Connected& operator=(const Connected&) = delete;
  void CloseRemote();
};

// Whether something accepts connections there within timeoutMs.
bool Accepts(std::uint16_t port, std::uint8_t lastByte = 1, int timeoutMs = 500);

// A listener on 127.0.0.1:port, as the program's own: it may bind beside connections
// lingering in TIME_WAIT, but not beside another listener. Closed when it goes.
class PortHolder {
 public:
  explicit PortHolder(std::uint16_t port);
  ~PortHolder();
  PortHolder(const PortHolder&) = delete;
  PortHolder& operator=(const PortHolder&) = delete;
  bool Held() const { return held_; }

 private:
  net::SocketHandle socket_ = net::kInvalidSocket;
  bool held_ = false;
};

}  // namespace tovi::testing

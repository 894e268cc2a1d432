#include "support/loopback.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

namespace tovi::testing {

net::Endpoint Loopback(std::uint16_t port, std::uint8_t lastByte) {
  net::Endpoint e;
  e.address[0] = 127;
  e.address[3] = lastByte;
  e.port = port;
  return e;
}

std::string LoopbackHost(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }

Connected::Connected() {
  net::Startup();
  const net::SocketHandle listener = net::OpenStream();
  net::Endpoint address = Loopback(0);
  EXPECT_EQ(net::Bind(listener, address), 0);
  EXPECT_EQ(net::Listen(listener, 1), 0);
  EXPECT_EQ(net::LocalEndpoint(listener, &address), 0);
  remote = net::OpenStream();
  EXPECT_EQ(net::Connect(remote, address, 5000), 0);
  local = net::Accept(listener, nullptr);
  EXPECT_NE(local, net::kInvalidSocket);
  net::Close(listener);
}

Connected::~Connected() {
  net::Close(local);
  CloseRemote();
}

void Connected::CloseRemote() {
  if (remote != net::kInvalidSocket) net::Close(remote);
  remote = net::kInvalidSocket;
}

std::uint16_t FreePort() {
  net::Startup();
  const net::SocketHandle s = net::OpenStream();
  net::Endpoint local = Loopback(0);
  std::uint16_t port = 0;
  if (net::Bind(s, local) == 0 && net::LocalEndpoint(s, &local) == 0) port = local.port;
  net::Close(s);
  return port;
}

bool SetReceiveBuffer(net::SocketHandle s, int bytes) {
  // The one call both systems share; Windows takes the option's bytes as char.
  const char* value = reinterpret_cast<const char*>(&bytes);
  return ::setsockopt(s, SOL_SOCKET, SO_RCVBUF, value, sizeof bytes) == 0;
}

bool Accepts(std::uint16_t port, std::uint8_t lastByte, int timeoutMs) {
  net::Startup();
  const net::SocketHandle s = net::OpenStream();
  const bool ok = net::Connect(s, Loopback(port, lastByte), timeoutMs) == 0;
  net::Close(s);
  return ok;
}

PortHolder::PortHolder(std::uint16_t port) {
  net::Startup();
  socket_ = net::OpenStream();
  held_ = socket_ != net::kInvalidSocket && net::AllowRebind(socket_) == 0 &&
          net::Bind(socket_, Loopback(port)) == 0 && net::Listen(socket_, 1) == 0;
}

PortHolder::~PortHolder() { net::Close(socket_); }

}  // namespace tovi::testing

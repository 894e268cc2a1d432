// IPv4 endpoints as the BSD socket calls take them; one home for the TCP and the UDP sockets.
#pragma once
#include <netinet/in.h>

#include <cstring>

#include "platform/socket.h"

namespace tovi::net::detail {

inline sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(e.port);
  std::memcpy(&a.sin_addr, e.address, 4);
  return a;
}

inline in_addr ToInAddr(const Endpoint& e) {
  in_addr a{};
  std::memcpy(&a, e.address, 4);
  return a;
}

}  // namespace tovi::net::detail

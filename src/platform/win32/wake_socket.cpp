#include "platform/win32/wake_socket.h"

namespace tovi::net::detail {

SOCKET OpenWakeSocket() {
  SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int len = sizeof a;
  u_long on = 1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
      ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::ioctlsocket(s, FIONBIO, &on) != 0) {
    const int code = ::WSAGetLastError();
    ::closesocket(s);
    ::WSASetLastError(code);
    return INVALID_SOCKET;
  }
  return s;
}

void SetWake(SOCKET wake) {
  const char one = 1;
  ::send(wake, &one, 1, 0);
}

}  // namespace tovi::net::detail

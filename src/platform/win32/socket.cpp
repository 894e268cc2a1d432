// Winsock 2.2 behind platform/socket.h; its error codes pass through unchanged.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cstring>
#include <mutex>
#include <vector>

namespace tovi::net {
namespace {

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

int Fail() { return -1; }

sockaddr_in ToSockaddr(const Endpoint& e) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(e.port);
  std::memcpy(&a.sin_addr, e.address, 4);
  return a;
}

void FromSockaddr(const sockaddr_in& a, Endpoint* e) {
  std::memcpy(e->address, &a.sin_addr, 4);
  e->port = ntohs(a.sin_port);
}

int WaitFor(SocketHandle s, bool write, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Sock(s), &set);
  timeval tv{};
  timeval* ptv = nullptr;
  if (timeoutMs >= 0) {
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
    ptv = &tv;
  }
  int r = write ? ::select(0, nullptr, &set, nullptr, ptv) : ::select(0, &set, nullptr, nullptr, ptv);
  if (r == SOCKET_ERROR) return -1;
  return r > 0 ? 1 : 0;
}

}  // namespace

bool Startup() {
  static std::once_flag once;
  static bool ok = false;
  std::call_once(once, [] {
    WSADATA data;
    ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  });
  return ok;
}

int LastError() { return ::WSAGetLastError(); }

SocketHandle OpenStream() {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // Child processes must not inherit the socket and keep its port alive.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<SocketHandle>(s);
}

int SetReuseAddress(SocketHandle s) {
  BOOL one = TRUE;
  return ::setsockopt(Sock(s), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&one),
                      sizeof one) == 0 ? 0 : Fail();
}

int AllowRebind(SocketHandle) { return 0; }

int Bind(SocketHandle s, const Endpoint& local) {
  sockaddr_in a = ToSockaddr(local);
  return ::bind(Sock(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : Fail();
}

int Listen(SocketHandle s, int backlog) { return ::listen(Sock(s), backlog) == 0 ? 0 : Fail(); }

SocketHandle Accept(SocketHandle s, Endpoint* peer) {
  sockaddr_in a{};
  int len = sizeof a;
  SOCKET c = ::accept(Sock(s), reinterpret_cast<sockaddr*>(&a), &len);
  if (c == INVALID_SOCKET) return kInvalidSocket;
  if (peer) FromSockaddr(a, peer);
  return static_cast<SocketHandle>(c);
}

int Connect(SocketHandle s, const Endpoint& remote, int timeoutMs) {
  sockaddr_in a = ToSockaddr(remote);
  if (timeoutMs <= 0) {
    return ::connect(Sock(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : Fail();
  }
  u_long on = 1;
  ::ioctlsocket(Sock(s), FIONBIO, &on);
  int r = ::connect(Sock(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
  int err = r == 0 ? 0 : ::WSAGetLastError();
  if (r != 0 && err == WSAEWOULDBLOCK) {
    fd_set wr, ex;
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(Sock(s), &wr);
    FD_SET(Sock(s), &ex);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int w = ::select(0, nullptr, &wr, &ex, &tv);
    if (w == 0) {
      err = WSAETIMEDOUT;
    } else if (w < 0) {
      err = ::WSAGetLastError();
    } else if (FD_ISSET(Sock(s), &ex)) {
      int soErr = 0;
      int len = sizeof soErr;
      ::getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soErr), &len);
      err = soErr != 0 ? soErr : WSAECONNREFUSED;
    } else {
      err = 0;
    }
  }
  u_long off = 0;
  ::ioctlsocket(Sock(s), FIONBIO, &off);
  if (err != 0) {
    ::WSASetLastError(err);
    return -1;
  }
  return 0;
}

int LocalEndpoint(SocketHandle s, Endpoint* out) {
  sockaddr_in a{};
  int len = sizeof a;
  if (::getsockname(Sock(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return Fail();
  FromSockaddr(a, out);
  return 0;
}

int PeerEndpoint(SocketHandle s, Endpoint* out) {
  sockaddr_in a{};
  int len = sizeof a;
  if (::getpeername(Sock(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return Fail();
  FromSockaddr(a, out);
  return 0;
}

int WaitReadable(SocketHandle s, int timeoutMs) { return WaitFor(s, false, timeoutMs); }
int WaitWritable(SocketHandle s, int timeoutMs) { return WaitFor(s, true, timeoutMs); }

long Send(SocketHandle s, const void* data, std::size_t size) {
  int piece = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
  int n = ::send(Sock(s), static_cast<const char*>(data), piece, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long Recv(SocketHandle s, void* data, std::size_t size) {
  int piece = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
  int n = ::recv(Sock(s), static_cast<char*>(data), piece, 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int SetSendTimeout(SocketHandle s, int timeoutMs) {
  DWORD ms = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
  return ::setsockopt(Sock(s), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&ms),
                      sizeof ms) == 0 ? 0 : Fail();
}

int ShutdownSend(SocketHandle s) { return ::shutdown(Sock(s), SD_SEND) == 0 ? 0 : Fail(); }
int ShutdownBoth(SocketHandle s) { return ::shutdown(Sock(s), SD_BOTH) == 0 ? 0 : Fail(); }
int Close(SocketHandle s) { return ::closesocket(Sock(s)) == 0 ? 0 : Fail(); }

long long SendFile(SocketHandle s, std::intptr_t nativeFileHandle, std::uint64_t offset,
                   std::uint64_t count) {
  constexpr DWORD kPiece = 256 * 1024;
  std::vector<char> buffer(kPiece);
  HANDLE file = reinterpret_cast<HANDLE>(nativeFileHandle);
  std::uint64_t sent = 0;
  while (sent < count) {
    std::uint64_t left = count - sent;
    DWORD want = left < kPiece ? static_cast<DWORD>(left) : kPiece;
    OVERLAPPED at{};
    std::uint64_t pos = offset + sent;
    at.Offset = static_cast<DWORD>(pos & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(pos >> 32);
    DWORD got = 0;
    if (!::ReadFile(file, buffer.data(), want, &got, &at)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      ::WSASetLastError(WSAEBADF);
      return -1;
    }
    if (got == 0) break;  // the file ended early
    DWORD done = 0;
    while (done < got) {
      int n = ::send(Sock(s), buffer.data() + done, static_cast<int>(got - done), 0);
      if (n == SOCKET_ERROR) return -1;
      done += static_cast<DWORD>(n);
    }
    sent += got;
  }
  return static_cast<long long>(sent);
}

int ResolveIPv4(const std::string& host, Endpoint* out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    ::WSASetLastError(WSAHOST_NOT_FOUND);
    return -1;
  }
  Endpoint e;
  FromSockaddr(*reinterpret_cast<sockaddr_in*>(list->ai_addr), &e);
  ::freeaddrinfo(list);
  std::memcpy(out->address, e.address, 4);
  return 0;
}

}  // namespace tovi::net

// Winsock 2 behind platform/udp.h; its error codes pass through unchanged.
#include "platform/udp.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include <windows.h>

#include <chrono>
#include <cstring>

#include "platform/win32/socket_address.h"
#include "platform/win32/wake_socket.h"

namespace tovi::net {
namespace {
using detail::ToInAddr;
using detail::ToSockaddr;

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

// WSARecvMsg is an extension of the socket's provider: asked of the socket itself.
LPFN_WSARECVMSG ReceiveMessageOf(SOCKET s) {
  GUID id = WSAID_WSARECVMSG;
  LPFN_WSARECVMSG function = nullptr;
  DWORD returned = 0;
  if (::WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                 &returned, nullptr, nullptr) != 0) {
    return nullptr;
  }
  return function;
}

// The adapter index IP_PKTINFO reported with a received datagram; 0 without it.
std::uint32_t ArrivalAdapter(WSAMSG& message) {
  for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr;
       c = WSA_CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    IN_PKTINFO info{};
    std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
    return static_cast<std::uint32_t>(info.ipi_ifindex);
  }
  return 0;
}

template <typename T>
bool Set(SOCKET s, int level, int option, const T& value) {
  return ::setsockopt(s, level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

}  // namespace

MulticastSocket::~MulticastSocket() { Close(); }

void MulticastSocket::Close() {
  if (handle_ == kInvalidSocket) return;
  ::closesocket(Sock(handle_));
  ::closesocket(Sock(wake_));
  handle_ = kInvalidSocket;
  wake_ = kInvalidSocket;
}

void MulticastSocket::Interrupt() {
  // Nobody reads it: it stays readable, so each later receive ends at once too.
  detail::SetWake(Sock(wake_));
}

int MulticastSocket::Open(const Endpoint& group, const Endpoint& adapter, int ttl) {
  Close();
  const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) return ::WSAGetLastError();
  // Child processes must not inherit the socket and keep the port and the membership.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  // A send to a peer whose port is closed comes back as an ICMP message that Windows turns
  // into a failure of the next receive: that peer's trouble is not ours.
  BOOL reportReset = FALSE;
  DWORD returned = 0;
  ::WSAIoctl(s, SIO_UDP_CONNRESET, &reportReset, sizeof reportReset, nullptr, 0, &returned,
             nullptr, nullptr);
  const BOOL yes = TRUE;
  const DWORD hops = static_cast<DWORD>(ttl);
  // Windows applies the loop option to what this socket receives, POSIX to what it sends: on,
  // both ways, so that control points of this PC hear us and we hear their searches.
  const DWORD loop = 1;
  ip_mreq membership{};
  membership.imr_multiaddr = ToInAddr(group);
  membership.imr_interface = ToInAddr(adapter);
  const in_addr outgoing = ToInAddr(adapter);
  const sockaddr_in any = ToSockaddr(Endpoint{{0, 0, 0, 0}, group.port});
  // The system's own discovery service holds the port with the address-reuse option set:
  // beside it, we must set it too.
  const bool ok =
      Set(s, SOL_SOCKET, SO_REUSEADDR, yes) &&
      ::bind(s, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0 &&
      Set(s, IPPROTO_IP, IP_ADD_MEMBERSHIP, membership) &&
      Set(s, IPPROTO_IP, IP_MULTICAST_IF, outgoing) &&
      Set(s, IPPROTO_IP, IP_MULTICAST_TTL, hops) &&
      Set(s, IPPROTO_IP, IP_MULTICAST_LOOP, loop) &&
      Set(s, IPPROTO_IP, IP_PKTINFO, yes) &&
      ReceiveMessageOf(s) != nullptr;
  const SOCKET wake = ok ? detail::OpenWakeSocket() : INVALID_SOCKET;
  if (wake == INVALID_SOCKET) {
    const int code = ::WSAGetLastError();
    ::closesocket(s);
    return code;
  }
  handle_ = static_cast<SocketHandle>(s);
  wake_ = static_cast<SocketHandle>(wake);
  return 0;
}

int MulticastSocket::Receive(void* buffer, std::size_t capacity, int timeoutMs, Datagram* got,
                             int* error) {
  const SOCKET s = Sock(handle_);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    // Rounded up: a wait cut short of the deadline would return before the caller's moment.
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left < 0) left = 0;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    FD_SET(Sock(wake_), &set);
    timeval tv{static_cast<long>(left / 1000), static_cast<long>((left % 1000) * 1000)};
    const int r = ::select(0, &set, nullptr, nullptr, &tv);
    if (r == 0) return 0;
    if (r == SOCKET_ERROR) {
      *error = ::WSAGetLastError();
      return -1;
    }
    if (FD_ISSET(Sock(wake_), &set)) return 0;
    sockaddr_in from{};
    WSABUF part{capacity > 0x40000000u ? 0x40000000u : static_cast<ULONG>(capacity),
                static_cast<char*>(buffer)};
    alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))];
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&from);
    message.namelen = sizeof from;
    message.lpBuffers = &part;
    message.dwBufferCount = 1;
    message.Control = WSABUF{sizeof control, control};
    const LPFN_WSARECVMSG receiveMessage = ReceiveMessageOf(s);
    if (receiveMessage == nullptr) {
      *error = ::WSAGetLastError();
      return -1;
    }
    DWORD n = 0;
    bool truncated = false;
    if (receiveMessage(s, &message, &n, nullptr, nullptr) != 0) {
      const int code = ::WSAGetLastError();
      // A datagram longer than the buffer is an error, with the buffer filled (or a flag below).
      if (code == WSAEMSGSIZE) {
        truncated = true;
      } else if (code == WSAECONNRESET || code == WSAEWOULDBLOCK || code == WSAEINTR) {
        if (Clock::now() >= deadline) return 0;
        continue;
      } else {
        *error = code;
        return -1;
      }
    }
    got->truncated = truncated || (message.dwFlags & MSG_TRUNC) != 0;
    got->size = got->truncated ? capacity : static_cast<std::size_t>(n);
    std::memcpy(got->from.address, &from.sin_addr, 4);
    got->from.port = ntohs(from.sin_port);
    got->adapterIndex = ArrivalAdapter(message);
    return 1;
  }
}

int MulticastSocket::SendTo(const void* data, std::size_t size, const Endpoint& to) {
  const sockaddr_in a = ToSockaddr(to);
  const int piece = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
  const int n = ::sendto(Sock(handle_), static_cast<const char*>(data), piece, 0,
                         reinterpret_cast<const sockaddr*>(&a), sizeof a);
  return n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
}

}  // namespace tovi::net

// BSD sockets behind platform/udp.h.
#include "platform/udp.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/uio.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "platform/posix/socket_errors.h"
#include "platform/posix/socket_address.h"
#include "platform/posix/wake_counter.h"

namespace tovi::net {
namespace {
using detail::ToInAddr;
using detail::ToSockaddr;

template <typename T>
bool Set(int fd, int level, int option, const T& value) {
  return ::setsockopt(fd, level, option, &value, sizeof value) == 0;
}

// The adapter index IP_PKTINFO reported with a received datagram; 0 without it.
std::uint32_t ArrivalAdapter(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info{};
    std::memcpy(&info, CMSG_DATA(c), sizeof info);
    return static_cast<std::uint32_t>(info.ipi_ifindex);
  }
  return 0;
}

}  // namespace

MulticastSocket::~MulticastSocket() { Close(); }

void MulticastSocket::Close() {
  if (handle_ == kInvalidSocket) return;
  ::close(static_cast<int>(handle_));
  ::close(static_cast<int>(wake_));
  handle_ = kInvalidSocket;
  wake_ = kInvalidSocket;
}

void MulticastSocket::Interrupt() { detail::SetWake(static_cast<int>(wake_)); }

int MulticastSocket::Open(const Endpoint& group, const Endpoint& adapter, int ttl) {
  Close();
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return detail::MapErrno(errno);
  const int one = 1;
  const int zero = 0;
  const unsigned char hops = static_cast<unsigned char>(ttl);
  const unsigned char loop = 1;
  ip_mreqn membership{};
  membership.imr_multiaddr = ToInAddr(group);
  membership.imr_address = ToInAddr(adapter);
  const in_addr outgoing = ToInAddr(adapter);
  const sockaddr_in any = ToSockaddr(Endpoint{{0, 0, 0, 0}, group.port});
  // Every step must hold: a socket that joined on no adapter, or would send out of another,
  // is worse than none. The port-reuse option is a help, not a must (another listener that set
  // only the address-reuse one shares with us without it).
  Set(fd, SOL_SOCKET, SO_REUSEPORT, one);
  const bool ok =
      Set(fd, SOL_SOCKET, SO_REUSEADDR, one) &&
      // Without this, a socket bound to 0.0.0.0 hears every group any program joined on any
      // adapter: only our own membership should reach us.
      Set(fd, IPPROTO_IP, IP_MULTICAST_ALL, zero) &&
      ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) == 0 &&
      Set(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, membership) &&
      Set(fd, IPPROTO_IP, IP_MULTICAST_IF, outgoing) &&
      Set(fd, IPPROTO_IP, IP_MULTICAST_TTL, hops) &&
      Set(fd, IPPROTO_IP, IP_MULTICAST_LOOP, loop) &&
      Set(fd, IPPROTO_IP, IP_PKTINFO, one);
  const int wake = ok ? detail::OpenWakeCounter() : -1;
  if (wake < 0) {
    // An address on no adapter: what Windows reports for it, not Linux's "no such device".
    const int code = errno == ENODEV ? kErrAddressNotAvailable : detail::MapErrno(errno);
    ::close(fd);
    return code;
  }
  handle_ = fd;
  wake_ = wake;
  return 0;
}

int MulticastSocket::Receive(void* buffer, std::size_t capacity, int timeoutMs, Datagram* got,
                             int* error) {
  const int fd = static_cast<int>(handle_);
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    // Rounded up: a wait cut short of the deadline would return before the caller's moment.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p[2] = {{fd, POLLIN, 0}, {static_cast<int>(wake_), POLLIN, 0}};
    const int r = ::poll(p, 2, left.count() < 0 ? 0 : static_cast<int>(left.count()));
    if (r == 0) return 0;
    if (r < 0) {
      if (errno == EINTR) continue;
      *error = detail::MapErrno(errno);
      return -1;
    }
    if (p[1].revents != 0) return 0;
    if (p[0].revents & POLLNVAL) {
      *error = kErrNotSocket;
      return -1;
    }
    sockaddr_in from{};
    iovec part{buffer, capacity};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    // MSG_TRUNC: the datagram's whole length, so a cut one is known as such.
    const ssize_t n = ::recvmsg(fd, &message, MSG_TRUNC | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      // An unreachable port reported for an earlier send is not this socket's failure.
      if (errno == ECONNREFUSED) return 0;
      *error = detail::MapErrno(errno);
      return -1;
    }
    got->truncated = static_cast<std::size_t>(n) > capacity;
    got->size = got->truncated ? capacity : static_cast<std::size_t>(n);
    std::memcpy(got->from.address, &from.sin_addr, 4);
    got->from.port = ntohs(from.sin_port);
    got->adapterIndex = ArrivalAdapter(message);
    return 1;
  }
}

int MulticastSocket::SendTo(const void* data, std::size_t size, const Endpoint& to) {
  const sockaddr_in a = ToSockaddr(to);
  for (;;) {
    const ssize_t n = ::sendto(static_cast<int>(handle_), data, size, MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&a), sizeof a);
    if (n >= 0) return 0;
    if (errno != EINTR) return detail::MapErrno(errno);
  }
}

}  // namespace tovi::net

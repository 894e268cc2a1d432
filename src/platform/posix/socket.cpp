// BSD sockets behind platform/socket.h; errno values are turned into Windows Sockets codes.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <mutex>

namespace tovi::net {
namespace {

thread_local int tLastError = 0;

int MapErrno(int e) {
  switch (e) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: case ENFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    // A send to a peer that has gone is what Windows reports as a reset.
    case ECONNRESET: case EPIPE: return 10054;
    case ENOBUFS: case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return 10000 + e;
  }
}

int Fail() {
  tLastError = MapErrno(errno);
  return -1;
}

// A blocking send that hit SO_SNDTIMEO reports EAGAIN; Windows reports that as a time-out.
int FailSend() {
  tLastError = (errno == EAGAIN || errno == EWOULDBLOCK) ? kErrTimedOut : MapErrno(errno);
  return -1;
}

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

int Fd(SocketHandle s) { return static_cast<int>(s); }

int WaitFor(SocketHandle s, short events, int timeoutMs) {
  pollfd p{Fd(s), events, 0};
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    int wait = -1;
    if (timeoutMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      wait = left.count() < 0 ? 0 : static_cast<int>(left.count());
    }
    int r = ::poll(&p, 1, wait);
    if (r > 0) {
      if (p.revents & POLLNVAL) {
        tLastError = kErrNotSocket;
        return -1;
      }
      return 1;
    }
    if (r == 0) return 0;
    if (errno != EINTR) return Fail();
  }
}

}  // namespace

bool Startup() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
  return true;
}

int LastError() { return tLastError; }

SocketHandle OpenStream() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    Fail();
    return kInvalidSocket;
  }
  return fd;
}

int SetReuseAddress(SocketHandle s) {
  int one = 1;
  return ::setsockopt(Fd(s), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 ? 0 : Fail();
}

int AllowRebind(SocketHandle s) { return SetReuseAddress(s); }

int Bind(SocketHandle s, const Endpoint& local) {
  sockaddr_in a = ToSockaddr(local);
  return ::bind(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : Fail();
}

int Listen(SocketHandle s, int backlog) { return ::listen(Fd(s), backlog) == 0 ? 0 : Fail(); }

SocketHandle Accept(SocketHandle s, Endpoint* peer) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  for (;;) {
    int fd = ::accept4(Fd(s), reinterpret_cast<sockaddr*>(&a), &len, SOCK_CLOEXEC);
    if (fd >= 0) {
      if (peer) FromSockaddr(a, peer);
      return fd;
    }
    // A connection that was reset while queued is not a listener failure.
    if (errno == ECONNABORTED || errno == EPROTO) continue;
    Fail();
    return kInvalidSocket;
  }
}

int Connect(SocketHandle s, const Endpoint& remote, int timeoutMs) {
  sockaddr_in a = ToSockaddr(remote);
  if (timeoutMs <= 0) {
    if (::connect(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return 0;
    if (errno != EINTR) return Fail();
    // Interrupted: the connect goes on in the background; wait for its outcome.
    timeoutMs = -1;
  } else {
    int flags = ::fcntl(Fd(s), F_GETFL);
    ::fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK);
    int r = ::connect(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
    int saved = errno;
    ::fcntl(Fd(s), F_SETFL, flags);
    if (r == 0) return 0;
    if (saved != EINPROGRESS) {
      errno = saved;
      return Fail();
    }
  }
  int w = WaitFor(s, POLLOUT, timeoutMs);
  if (w < 0) return -1;
  if (w == 0) {
    tLastError = kErrTimedOut;
    return -1;
  }
  int err = 0;
  socklen_t len = sizeof err;
  ::getsockopt(Fd(s), SOL_SOCKET, SO_ERROR, &err, &len);
  if (err != 0) {
    errno = err;
    return Fail();
  }
  return 0;
}

int LocalEndpoint(SocketHandle s, Endpoint* out) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(Fd(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return Fail();
  FromSockaddr(a, out);
  return 0;
}

int PeerEndpoint(SocketHandle s, Endpoint* out) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getpeername(Fd(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return Fail();
  FromSockaddr(a, out);
  return 0;
}

int WaitReadable(SocketHandle s, int timeoutMs) { return WaitFor(s, POLLIN, timeoutMs); }
int WaitWritable(SocketHandle s, int timeoutMs) { return WaitFor(s, POLLOUT, timeoutMs); }

namespace {

// SO_SNDTIMEO in ms (0: none).
long SendTimeoutMs(int fd) {
  timeval tv{};
  socklen_t len = sizeof tv;
  if (::getsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, &len) != 0) return 0;
  return static_cast<long>(tv.tv_sec) * 1000 + static_cast<long>(tv.tv_usec) / 1000;
}

// A send that moved some bytes and then waited out the whole send time-out returns those bytes
// instead of failing; the next call would wait the time-out again. Such a short return is the
// stall itself, or a peer that stops reading would hold the connection twice as long.
bool StalledOut(std::chrono::steady_clock::time_point start, long timeoutMs) {
  return timeoutMs > 0 && std::chrono::steady_clock::now() - start >=
                              std::chrono::milliseconds(timeoutMs);
}

}  // namespace

long Send(SocketHandle s, const void* data, std::size_t size) {
  const long timeoutMs = SendTimeoutMs(Fd(s));
  for (;;) {
    const auto start = std::chrono::steady_clock::now();
    ssize_t n = ::send(Fd(s), data, size, MSG_NOSIGNAL);
    if (n >= 0 && static_cast<std::size_t>(n) < size && StalledOut(start, timeoutMs)) {
      tLastError = kErrTimedOut;
      return -1;
    }
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return FailSend();
  }
}

long Recv(SocketHandle s, void* data, std::size_t size) {
  for (;;) {
    ssize_t n = ::recv(Fd(s), data, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) {
      // A blocking receive only times out through SO_RCVTIMEO, which Windows calls a time-out.
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        tLastError = kErrTimedOut;
        return -1;
      }
      return Fail();
    }
  }
}

int SetSendTimeout(SocketHandle s, int timeoutMs) {
  timeval tv{};
  if (timeoutMs > 0) {
    tv.tv_sec = timeoutMs / 1000;
    tv.tv_usec = (timeoutMs % 1000) * 1000;
  }
  return ::setsockopt(Fd(s), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0 ? 0 : Fail();
}

int ShutdownSend(SocketHandle s) { return ::shutdown(Fd(s), SHUT_WR) == 0 ? 0 : Fail(); }
int ShutdownBoth(SocketHandle s) { return ::shutdown(Fd(s), SHUT_RDWR) == 0 ? 0 : Fail(); }
int Close(SocketHandle s) { return ::close(Fd(s)) == 0 ? 0 : Fail(); }

long long SendFile(SocketHandle s, std::intptr_t nativeFileHandle, std::uint64_t offset,
                   std::uint64_t count) {
  // Non-blocking, with our own wait: one blocking sendfile() call can wait out the send
  // time-out several times over (the kernel restarts it for every piece that moves a little),
  // so a reader that stopped would hold the connection far longer than the limit. Here any
  // bytes moved restart the wait, and a wait that runs out is the stall.
  const int fd = Fd(s);
  const long timeoutMs = SendTimeoutMs(fd);
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return Fail();
  off_t pos = static_cast<off_t>(offset);
  std::uint64_t sent = 0;
  long long result = -1;
  int error = 0;  // a socket code when result stays -1
  for (;;) {
    if (sent >= count) {
      result = static_cast<long long>(sent);
      break;
    }
    std::uint64_t left = count - sent;
    std::size_t piece = left > (1u << 30) ? (1u << 30) : static_cast<std::size_t>(left);
    ssize_t n = ::sendfile(fd, static_cast<int>(nativeFileHandle), &pos, piece);
    if (n > 0) {
      sent += static_cast<std::uint64_t>(n);
      continue;
    }
    if (n == 0) {  // the file ended early
      result = static_cast<long long>(sent);
      break;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      error = MapErrno(errno);
      break;
    }
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, timeoutMs > 0 ? static_cast<int>(timeoutMs) : -1);
    if (ready == 0) {
      error = kErrTimedOut;
      break;
    }
    if (ready < 0 && errno != EINTR) {
      error = MapErrno(errno);
      break;
    }
    // Ready, or an error or hang-up that the next sendfile() reports.
  }
  ::fcntl(fd, F_SETFL, flags);
  if (result < 0) tLastError = error;
  return result;
}

int ResolveIPv4(const std::string& host, Endpoint* out) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || list == nullptr) {
    tLastError = kErrHostNotFound;
    return -1;
  }
  Endpoint e;
  FromSockaddr(*reinterpret_cast<sockaddr_in*>(list->ai_addr), &e);
  ::freeaddrinfo(list);
  std::memcpy(out->address, e.address, 4);
  return 0;
}

}  // namespace tovi::net

// BSD sockets behind platform/socket.h; errno values are turned into Windows Sockets codes.
#include "platform/socket.h"
#include "platform/posix/socket_errors.h"
#include "platform/posix/socket_address.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

namespace tovi::net {

namespace detail {

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

}  // namespace detail

namespace {

using detail::MapErrno;
using detail::ToSockaddr;

thread_local int tLastError = 0;

int Fail() {
  tLastError = MapErrno(errno);
  return -1;
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
      // Rounded up: cut down, a wait of 2 ms would last 1, and one of 1 ms not at all.
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
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

// A stop shuts the listening socket's receiving down: the system then ends every accept blocked
// on it at once (EINVAL), and each later one, where closing it under a waiter would not.
struct AcceptWaits::State {
  int fd = -1;
  std::atomic<bool> stopped{false};
};

AcceptWaits::AcceptWaits(std::unique_ptr<State> state) : state_(std::move(state)) {}
AcceptWaits::~AcceptWaits() = default;

std::unique_ptr<AcceptWaits> AcceptWaits::Open(SocketHandle listening, int waitMs) {
  const timeval limit{waitMs / 1000, (waitMs % 1000) * 1000};
  if (::setsockopt(Fd(listening), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
    Fail();
    return nullptr;
  }
  auto state = std::make_unique<State>();
  state->fd = Fd(listening);
  return std::unique_ptr<AcceptWaits>(new AcceptWaits(std::move(state)));
}

SocketHandle AcceptWaits::Accept(Endpoint* peer) {
  sockaddr_in a{};
  while (!state_->stopped) {
    socklen_t len = sizeof a;
    int fd = ::accept4(state_->fd, reinterpret_cast<sockaddr*>(&a), &len,
                       SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd >= 0) {
      if (peer) FromSockaddr(a, peer);
      return fd;
    }
    if (errno == ECONNABORTED || errno == EPROTO || errno == EINTR) continue;
    if (state_->stopped) break;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      tLastError = kErrTimedOut;
    } else {
      Fail();
    }
    return kInvalidSocket;
  }
  tLastError = kErrInterrupted;
  return kInvalidSocket;
}

void AcceptWaits::Stop() {
  state_->stopped = true;
  ::shutdown(state_->fd, SHUT_RD);
}

bool AcceptWakesOne() { return true; }

namespace {

// Waits for a connect in progress in slices, so cancelled() is asked. 1 when it has an outcome
// (SO_ERROR tells which), 0 on time-out, -1 when cancelled or on error.
int WaitConnecting(SocketHandle s, int timeoutMs, const std::function<bool()>& cancelled) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (cancelled && cancelled()) {
      tLastError = kErrInterrupted;
      return -1;
    }
    int slice = cancelled ? kWakeCheckMs : -1;
    if (timeoutMs > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return 0;
      slice = slice < 0 ? static_cast<int>(left) : std::min(slice, static_cast<int>(left));
    }
    const int ready = WaitFor(s, POLLOUT, slice);
    if (ready != 0) return ready;
  }
}

}  // namespace

int Connect(SocketHandle s, const Endpoint& remote, int timeoutMs,
            const std::function<bool()>& cancelled) {
  sockaddr_in a = ToSockaddr(remote);
  const int flags = ::fcntl(Fd(s), F_GETFL);
  ::fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK);
  const int r = ::connect(Fd(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
  const int saved = errno;
  ::fcntl(Fd(s), F_SETFL, flags);
  if (r == 0) return 0;
  // Interrupted or not, the connect goes on in the background; wait for its outcome.
  if (saved != EINPROGRESS && saved != EINTR) {
    errno = saved;
    return Fail();
  }
  const int w = WaitConnecting(s, timeoutMs, cancelled);
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

long Send(SocketHandle s, const void* data, std::size_t size) {
  for (;;) {
    ssize_t n = ::send(Fd(s), data, size, MSG_NOSIGNAL);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return Fail();
  }
}

namespace {

// One send that never blocks: bytes sent, 0 when there is no room, -1 on error. MSG_MORE holds a
// partial segment until the next send or the shutdown.
long SendNow(SocketHandle s, const void* data, std::size_t size, bool closing) {
  const int more = closing ? MSG_MORE : 0;
  for (;;) {
    ssize_t n = ::send(Fd(s), data, size, MSG_NOSIGNAL | MSG_DONTWAIT | more);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno != EINTR) return Fail();
  }
}

}  // namespace

long SendWithin(SocketHandle s, const void* data, std::size_t size, int waitMs, bool closing) {
  const long n = SendNow(s, data, size, closing);
  if (n != 0) return n;
  const int ready = WaitFor(s, POLLOUT, waitMs);
  if (ready <= 0) return ready;
  return SendNow(s, data, size, closing);
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

long RecvNow(SocketHandle s, void* data, std::size_t size) {
  for (;;) {
    ssize_t n = ::recv(Fd(s), data, size, MSG_DONTWAIT);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return Fail();
  }
}

int ShutdownSend(SocketHandle s) { return ::shutdown(Fd(s), SHUT_WR) == 0 ? 0 : Fail(); }
int ShutdownBoth(SocketHandle s) { return ::shutdown(Fd(s), SHUT_RDWR) == 0 ? 0 : Fail(); }
int Close(SocketHandle s) { return ::close(Fd(s)) == 0 ? 0 : Fail(); }

namespace {

// What a file send may leave queued in the kernel and not yet sent. Unbounded, the kernel takes a
// stream's whole send buffer (grown to 4 MiB): with many streams hundreds of MiB of pages wait in
// queues. How deep a queue serves best depends on the congestion control (64 streams of 4 MiB
// ranges on loopback, against no bound):
// - a pacing one (bbr) sends queued bytes from the peers' acknowledgements and its timers, and
//   unbounded the machine pays twice as much per byte, at half the rate and four times the p99;
// - a window one (cubic, the common default) pays for a bound in wakes: 256 KiB costs the server
//   a third more per range and a tenth of the rate, 1 MiB an eighth more; yet without a bound
//   the p99 doubles, and with 1 MiB it is lowest.
// The kernel reports room only when the queue is below half of the bound, and a corked send keeps
// a partial segment (up to 64 KiB) queued until the next bytes or the end of the range: half must
// stay above that, or each wait lasts the cork's timer.
constexpr int kUnsentBytesPaced = 256 * 1024;
constexpr int kUnsentBytesWindowed = 1024 * 1024;

// A peer that reads slower than we send (a TV playing a film at its bitrate) keeps the queue full,
// and the stream's thread wakes to refill it each time it drains below half the bound: with
// kUnsentBytesPaced, 8 times per MB, most of what such a stream costs us. kSlowPeerWaits
// waits for room in a row, each of kSlowPeerWait or more, mark such a peer; its send then keeps
// up to kSlowPeerUnsentBytes queued, 8 times fewer wakes, and a paused TV holds that much beside
// its window. A stream that moves as fast as the machine sends rarely waits that long so often in
// a row (64 streams on loopback: the same throughput and p99 with this as without) and keeps the
// shallow bound, which serves it best. The kernel's own send buffer limit still holds.
constexpr auto kSlowPeerWait = std::chrono::milliseconds(20);
constexpr int kSlowPeerWaits = 4;
constexpr int kSlowPeerUnsentBytes = 2 * 1024 * 1024;

// While it lives, a socket is non-blocking and corked: only full segments go out, and the last,
// partial one leaves at once when the range is done. (Uncorked, Nagle's algorithm holds a
// range's short tail until the peer has acknowledged the rest: a delay on every range.) The
// answer's head has left before, on its own: corked into the file's first segment, 64 streams of
// 4 MiB ranges on loopback cost the server twice the processor time per range, at four fifths
// of the rate. A closing send leaves the cork on: the shutdown that follows at once pushes the
// tail out with its FIN whatever the cork holds (the packet saved gained no time that could be
// measured; the call that would clear the cork is saved with it). At
// most kUnsentBytesPaced or kUnsentBytesWindowed (kSlowPeerUnsentBytes for a slow peer) waits
// unsent; the bound stays for the connection's later answers.
class FileSending {
 public:
  FileSending(int fd, bool closing) : fd_(fd), flags_(::fcntl(fd, F_GETFL)), closing_(closing) {
    // A socket that does not block already (an accepted one) is left as it is.
    setsFlags_ = flags_ >= 0 && (flags_ & O_NONBLOCK) == 0;
    ok_ = flags_ >= 0 && (!setsFlags_ || ::fcntl(fd, F_SETFL, flags_ | O_NONBLOCK) == 0);
    if (!ok_) return;
    SetCork(1);
    SetUnsentBound(Paced(fd) ? kUnsentBytesPaced : kUnsentBytesWindowed);
  }
  ~FileSending() {
    if (!ok_) return;
    if (!closing_) SetCork(0);
    if (setsFlags_) ::fcntl(fd_, F_SETFL, flags_);
  }
  FileSending(const FileSending&) = delete;
  FileSending& operator=(const FileSending&) = delete;
  bool Ok() const { return ok_; }
  void SetUnsentBound(int bytes) {
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, sizeof bytes);
  }

 private:
  void SetCork(int on) { ::setsockopt(fd_, IPPROTO_TCP, TCP_CORK, &on, sizeof on); }
  // Whether the socket's congestion control paces its sends (the bbr family); unknown counts
  // as paced, whose shallower bound costs least when wrong.
  static bool Paced(int fd) {
    char name[16] = {};  // the kernel's longest name (TCP_CA_NAME_MAX)
    socklen_t size = sizeof name;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_CONGESTION, name, &size) != 0) return true;
    return std::strncmp(name, "bbr", 3) == 0;
  }
  int fd_;
  int flags_;
  bool closing_;
  bool setsFlags_ = false;
  bool ok_ = false;
};

// Waits for room to send, at most a wake-check slice and what is left of the stall limit: 0 to
// go on (ready, a slice over, or a failure the next send reports), else a socket code.
int WaitForRoom(int fd, int stallMs, std::chrono::steady_clock::time_point stallEnd) {
  int slice = kWakeCheckMs;
  if (stallMs > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          stallEnd - std::chrono::steady_clock::now()).count();
    if (left <= 0) return kErrTimedOut;
    slice = std::min(slice, static_cast<int>(left));
  }
  pollfd p{fd, POLLOUT, 0};
  if (::poll(&p, 1, slice) < 0 && errno != EINTR) return MapErrno(errno);
  return 0;
}

}  // namespace

long long SendFile(SocketHandle s, std::intptr_t nativeFileHandle, std::uint64_t offset,
                   std::uint64_t count, int stallMs, const std::function<bool()>& cancelled,
                   bool closing) {
  // Non-blocking, with our own wait: one blocking sendfile() call can wait out a stall limit
  // several times over (the kernel restarts it for every piece that moves a little), and only a
  // wait of our own can ask cancelled(). Any bytes moved restart the stall limit.
  using Clock = std::chrono::steady_clock;
  const int fd = Fd(s);
  FileSending sending(fd, closing);
  if (!sending.Ok()) return Fail();
  off_t pos = static_cast<off_t>(offset);
  std::uint64_t sent = 0;
  int error = 0;  // a socket code
  auto stallEnd = Clock::now() + std::chrono::milliseconds(stallMs);
  int longWaits = 0;  // in a row
  auto waitForRoom = [&] {
    const auto start = Clock::now();
    const int result = WaitForRoom(fd, stallMs, stallEnd);
    if (longWaits < kSlowPeerWaits && result == 0) {
      longWaits = Clock::now() - start >= kSlowPeerWait ? longWaits + 1 : 0;
      if (longWaits == kSlowPeerWaits) sending.SetUnsentBound(kSlowPeerUnsentBytes);
    }
    return result;
  };
  while (sent < count && error == 0) {
    if (cancelled && cancelled()) {
      error = kErrInterrupted;
      break;
    }
    const std::uint64_t piece = std::min<std::uint64_t>(count - sent, 1u << 30);
    const ssize_t n = ::sendfile(fd, static_cast<int>(nativeFileHandle), &pos, piece);
    if (n > 0) {
      sent += static_cast<std::uint64_t>(n);
      stallEnd = Clock::now() + std::chrono::milliseconds(stallMs);
      // A short send filled the queue. Another call now would fail only after reading the
      // file's next pages into the kernel's pipe and dropping them: wait for room first.
      if (static_cast<std::uint64_t>(n) < piece && sent < count) error = waitForRoom();
    } else if (n == 0) {
      break;  // the file ended early
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      error = waitForRoom();
    } else if (errno != EINTR) {
      error = MapErrno(errno);
    }
  }
  if (error == 0) return static_cast<long long>(sent);
  tLastError = error;
  return -1;
}

std::size_t OpenHandleLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return 1u << 20;
  return static_cast<std::size_t>(r.rlim_cur);
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

// Winsock 2.2 behind platform/socket.h; its error codes pass through unchanged.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/win32/socket_address.h"
#include "platform/win32/wake_socket.h"

namespace tovi::net {
namespace {
using detail::ToSockaddr;

SOCKET Sock(SocketHandle s) { return static_cast<SOCKET>(s); }

int Fail() { return -1; }


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

// Each wait selects the listening socket together with a wake socket; a stop sends the wake
// socket a byte that nobody reads, so it stays readable and every later wait ends at once too.
struct AcceptWaits::State {
  SOCKET listening = INVALID_SOCKET;
  SOCKET wake = INVALID_SOCKET;
  int waitMs = 0;
  std::atomic<bool> stopped{false};
  ~State() {
    if (wake != INVALID_SOCKET) ::closesocket(wake);
  }
};

AcceptWaits::AcceptWaits(std::unique_ptr<State> state) : state_(std::move(state)) {}
AcceptWaits::~AcceptWaits() = default;

std::unique_ptr<AcceptWaits> AcceptWaits::Open(SocketHandle listening, int waitMs) {
  auto state = std::make_unique<State>();
  state->listening = Sock(listening);
  state->waitMs = waitMs;
  state->wake = detail::OpenWakeSocket();
  if (state->wake == INVALID_SOCKET) return nullptr;
  // Every waiter is woken: the listening socket does not block, so that those that find the
  // connection taken already come back instead of blocking in accept.
  u_long on = 1;
  if (::ioctlsocket(state->listening, FIONBIO, &on) != 0) return nullptr;
  return std::unique_ptr<AcceptWaits>(new AcceptWaits(std::move(state)));
}

SocketHandle AcceptWaits::Accept(Endpoint* peer) {
  const SOCKET listening = state_->listening;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(listening, &set);
  FD_SET(state_->wake, &set);
  timeval limit{state_->waitMs / 1000, (state_->waitMs % 1000) * 1000};
  const int ready = state_->stopped ? 0 : ::select(0, &set, nullptr, nullptr, &limit);
  if (ready == SOCKET_ERROR) return kInvalidSocket;
  if (state_->stopped || (ready > 0 && FD_ISSET(state_->wake, &set))) {
    ::WSASetLastError(WSAEINTR);
    return kInvalidSocket;
  }
  if (ready == 0) {
    ::WSASetLastError(WSAETIMEDOUT);
    return kInvalidSocket;
  }
  sockaddr_in a{};
  int len = sizeof a;
  SOCKET c = ::accept(listening, reinterpret_cast<sockaddr*>(&a), &len);
  if (c == INVALID_SOCKET) {
    if (::WSAGetLastError() == WSAEWOULDBLOCK) ::WSASetLastError(WSAETIMEDOUT);
    return kInvalidSocket;
  }
  // It inherits the listening socket's mode; the engines expect a blocking one here.
  u_long off = 0;
  ::ioctlsocket(c, FIONBIO, &off);
  if (peer) FromSockaddr(a, peer);
  return static_cast<SocketHandle>(c);
}

void AcceptWaits::Stop() {
  state_->stopped = true;
  detail::SetWake(state_->wake);
}

bool AcceptWakesOne() { return false; }

namespace {

// Waits in slices for a connect in progress, asking cancelled(); a failed connect shows in the
// exception set. 0 connected, else a Winsock code (WSAETIMEDOUT, WSAEINTR when cancelled).
int WaitConnecting(SocketHandle s, int timeoutMs, const std::function<bool()>& cancelled) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (cancelled && cancelled()) return WSAEINTR;
    long slice = cancelled ? kWakeCheckMs : -1;
    if (timeoutMs > 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) return WSAETIMEDOUT;
      slice = slice < 0 ? static_cast<long>(left) : std::min<long>(slice, static_cast<long>(left));
    }
    fd_set wr, ex;
    FD_ZERO(&wr);
    FD_ZERO(&ex);
    FD_SET(Sock(s), &wr);
    FD_SET(Sock(s), &ex);
    timeval tv{slice / 1000, (slice % 1000) * 1000};
    const int w = ::select(0, nullptr, &wr, &ex, slice < 0 ? nullptr : &tv);
    if (w < 0) return ::WSAGetLastError();
    if (w == 0) continue;
    if (!FD_ISSET(Sock(s), &ex)) return 0;
    int soErr = 0;
    int len = sizeof soErr;
    ::getsockopt(Sock(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soErr), &len);
    return soErr != 0 ? soErr : WSAECONNREFUSED;
  }
}

}  // namespace

int Connect(SocketHandle s, const Endpoint& remote, int timeoutMs,
            const std::function<bool()>& cancelled) {
  sockaddr_in a = ToSockaddr(remote);
  if (timeoutMs <= 0 && !cancelled) {
    return ::connect(Sock(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 ? 0 : Fail();
  }
  u_long on = 1;
  ::ioctlsocket(Sock(s), FIONBIO, &on);
  int r = ::connect(Sock(s), reinterpret_cast<sockaddr*>(&a), sizeof a);
  int err = r == 0 ? 0 : ::WSAGetLastError();
  if (r != 0 && err == WSAEWOULDBLOCK) err = WaitConnecting(s, timeoutMs, cancelled);
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

long RecvNow(SocketHandle s, void* data, std::size_t size) {
  const int ready = WaitFor(s, false, 0);
  if (ready < 0) return -1;
  if (ready == 0) {
    ::WSASetLastError(WSAEWOULDBLOCK);
    return -1;
  }
  return Recv(s, data, size);
}

long SendWithin(SocketHandle s, const void* data, std::size_t size, int waitMs,
                bool /*closing*/) {
  // A blocking send here is not woken by a shutdown from another thread, and one that has
  // started waits until all of its bytes are taken: wait for room ourselves, then send only
  // what fits.
  const int ready = WaitFor(s, true, waitMs);
  if (ready <= 0) return ready;
  int piece = size > 0x40000000u ? 0x40000000 : static_cast<int>(size);
  u_long on = 1;
  ::ioctlsocket(Sock(s), FIONBIO, &on);
  const int n = ::send(Sock(s), static_cast<const char*>(data), piece, 0);
  const int err = n == SOCKET_ERROR ? ::WSAGetLastError() : 0;
  u_long off = 0;
  ::ioctlsocket(Sock(s), FIONBIO, &off);
  if (n != SOCKET_ERROR) return n;
  if (err == WSAEWOULDBLOCK) return 0;
  ::WSASetLastError(err);
  return -1;
}

int ShutdownSend(SocketHandle s) { return ::shutdown(Sock(s), SD_SEND) == 0 ? 0 : Fail(); }
int ShutdownBoth(SocketHandle s) { return ::shutdown(Sock(s), SD_BOTH) == 0 ? 0 : Fail(); }
int Close(SocketHandle s) { return ::closesocket(Sock(s)) == 0 ? 0 : Fail(); }

long long SendFile(SocketHandle s, std::intptr_t nativeFileHandle, std::uint64_t offset,
                   std::uint64_t count, int stallMs, const std::function<bool()>& cancelled,
                   bool /*closing*/) {
  using Clock = std::chrono::steady_clock;
  constexpr DWORD kPiece = 256 * 1024;
  std::vector<char> buffer(kPiece);
  HANDLE file = reinterpret_cast<HANDLE>(nativeFileHandle);
  std::uint64_t sent = 0;
  auto stallEnd = Clock::now() + std::chrono::milliseconds(stallMs);
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
      if (cancelled && cancelled()) {
        ::WSASetLastError(WSAEINTR);
        return -1;
      }
      int slice = kWakeCheckMs;
      if (stallMs > 0) {
        const auto wait =
            std::chrono::duration_cast<std::chrono::milliseconds>(stallEnd - Clock::now()).count();
        if (wait <= 0) {
          ::WSASetLastError(WSAETIMEDOUT);
          return -1;
        }
        slice = std::min(slice, static_cast<int>(wait));
      }
      const long n = SendWithin(s, buffer.data() + done, got - done, slice);
      if (n < 0) return -1;
      if (n > 0) stallEnd = Clock::now() + std::chrono::milliseconds(stallMs);
      done += static_cast<DWORD>(n);
    }
    sent += got;
  }
  return static_cast<long long>(sent);
}

std::size_t OpenHandleLimit() { return 1u << 24; }

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

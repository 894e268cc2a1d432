// IPv4 stream sockets, the same on every platform: Winsock 2 on Windows, BSD sockets on POSIX.
// Failures are reported as Windows Sockets error codes on every platform (POSIX errno values are
// mapped), so the engines raise the same exceptions with the same texts everywhere.
// Thread safety: every call is independent; a socket may be closed from one thread while
// another waits on it (the wait then fails or reports readiness, and the next call fails).
// Waits that take a `cancelled` check ask it at least every kWakeCheckMs and give up when it
// says so: a shutdown does not wake every blocked call on every platform, asking does.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tovi::net {

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kInvalidSocket = -1;

// An IPv4 endpoint; address bytes in network order (a[0] is the first dotted number).
struct Endpoint {
  std::uint8_t address[4] = {0, 0, 0, 0};
  std::uint16_t port = 0;
};

// Windows Sockets codes the engines look at; any code may be reported.
inline constexpr int kErrInterrupted = 10004;        // WSAEINTR
inline constexpr int kErrBadFile = 10009;            // WSAEBADF
inline constexpr int kErrAccess = 10013;             // WSAEACCES
inline constexpr int kErrInvalidArgument = 10022;    // WSAEINVAL
inline constexpr int kErrTooManyFiles = 10024;       // WSAEMFILE
inline constexpr int kErrWouldBlock = 10035;         // WSAEWOULDBLOCK
inline constexpr int kErrNotSocket = 10038;          // WSAENOTSOCK
inline constexpr int kErrAddressInUse = 10048;       // WSAEADDRINUSE
inline constexpr int kErrAddressNotAvailable = 10049;// WSAEADDRNOTAVAIL
inline constexpr int kErrConnectionAborted = 10053;  // WSAECONNABORTED
inline constexpr int kErrConnectionReset = 10054;    // WSAECONNRESET
inline constexpr int kErrNoBuffers = 10055;          // WSAENOBUFS
inline constexpr int kErrNotConnected = 10057;       // WSAENOTCONN
inline constexpr int kErrShutdown = 10058;           // WSAESHUTDOWN
inline constexpr int kErrTimedOut = 10060;           // WSAETIMEDOUT
inline constexpr int kErrConnectionRefused = 10061;  // WSAECONNREFUSED
inline constexpr int kErrHostNotFound = 11001;       // WSAHOST_NOT_FOUND

// How long a cancellable wait may go without looking at its reason to stop: the delay between a
// switch-off and a blocked connection noticing it.
inline constexpr int kWakeCheckMs = 250;

// Starts the socket library (Winsock 2.2); idempotent, true on success. POSIX: always true,
// and SIGPIPE is ignored so a write to a closed peer fails with an error instead.
bool Startup();

// The calling thread's last socket error, as a Windows Sockets code (0 when none).
int LastError();

// Each returns kInvalidSocket / -1 on failure, with LastError() set.
SocketHandle OpenStream();
int SetReuseAddress(SocketHandle s);
// Lets a listening port be bound again while old connections linger in TIME_WAIT, where that
// cannot let another socket take a port in use: POSIX sets the address-reuse option, Windows
// (where that option would allow exactly that) sets nothing.
int AllowRebind(SocketHandle s);
int Bind(SocketHandle s, const Endpoint& local);
int Listen(SocketHandle s, int backlog);
SocketHandle Accept(SocketHandle s, Endpoint* peer);
// Waits for connections on one listening socket that its owner can end at once: Stop wakes every
// wait under way and ends each one to come, so a switch-off needs no waiter to poll for it, and an
// idle listener costs no wake-ups. Several threads may wait on one socket; a connection wakes one
// of them where the system allows (POSIX: a blocking accept, bounded by the receive time-out set
// on the listening socket), not all. Stop from any thread, also while waits run; destroy it once
// no wait runs, before the socket closes. Stop leaves the socket taking no more connections.
// Accepted sockets may not block (POSIX) and may carry that time-out: read them with RecvNow or
// after readiness, send with SendWithin or SendFile.
class AcceptWaits {
 public:
  // nullptr with LastError() set when the system gives no wake (out of handles or buffers).
  // waitMs bounds each wait; a Stop does not wait for it.
  static std::unique_ptr<AcceptWaits> Open(SocketHandle listening, int waitMs);
  ~AcceptWaits();
  AcceptWaits(const AcceptWaits&) = delete;
  AcceptWaits& operator=(const AcceptWaits&) = delete;

  // A connection that came within the wait; kInvalidSocket with kErrTimedOut when none came (or
  // another waiter took it), kErrInterrupted once stopped, or the socket's own error.
  SocketHandle Accept(Endpoint* peer);
  void Stop();

 private:
  struct State;
  explicit AcceptWaits(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};
// Whether a connection wakes only one of the threads in AcceptWaits::Accept (else all).
bool AcceptWakesOne();
// timeoutMs <= 0: as long as the system lets it; on expiry fails with kErrTimedOut. When
// cancelled() turns true meanwhile, fails with kErrInterrupted.
int Connect(SocketHandle s, const Endpoint& remote, int timeoutMs,
            const std::function<bool()>& cancelled = {});
int LocalEndpoint(SocketHandle s, Endpoint* out);
int PeerEndpoint(SocketHandle s, Endpoint* out);

// 1 ready, 0 time-out, -1 error. timeoutMs < 0 waits without limit.
int WaitReadable(SocketHandle s, int timeoutMs);
int WaitWritable(SocketHandle s, int timeoutMs);

// Bytes moved (Recv: 0 = the peer closed), or -1 on error. Send blocks until it moved some.
long Send(SocketHandle s, const void* data, std::size_t size);
long Recv(SocketHandle s, void* data, std::size_t size);
// Receives what has arrived, never waiting: the bytes, 0 when the peer has closed, -1 on error,
// with kErrWouldBlock when nothing has arrived yet. A read that need not wait then costs one call.
long RecvNow(SocketHandle s, void* data, std::size_t size);
// Waits up to waitMs for room, then sends what fits without blocking: the bytes sent, 0 when no
// room came in time, -1 on error. closing: the caller shuts the socket down right after its last
// send; where the system allows, a partial last segment then waits for the shutdown and leaves
// with the FIN, one packet for the peer to take instead of two (ignored elsewhere).
long SendWithin(SocketHandle s, const void* data, std::size_t size, int waitMs,
                bool closing = false);

int ShutdownSend(SocketHandle s);
// Shuts down both directions: a thread blocked in Recv or WaitReadable on s then returns (Recv
// gives 0) without the handle being closed under it; safe from any thread.
int ShutdownBoth(SocketHandle s);
int Close(SocketHandle s);

// Sends count bytes of an open file (fd on POSIX, HANDLE on Windows) from offset (the file's own
// position is neither used nor kept). Returns the bytes sent: fewer than count only when the file
// ends early; -1 on a socket or file error with LastError() set: kErrTimedOut when the peer took
// nothing for stallMs (0: no limit), kErrInterrupted when cancelled() turned true. closing: the
// caller shuts the socket down right after (as for SendWithin); where the system allows, the last
// partial segment then leaves with that shutdown's FIN.
long long SendFile(SocketHandle s, std::intptr_t nativeFileHandle, std::uint64_t offset,
                   std::uint64_t count, int stallMs, const std::function<bool()>& cancelled,
                   bool closing = false);

// How many sockets and files this process may have open at once: the open-file limit on POSIX;
// Windows sets none short of its per-process handle count.
std::size_t OpenHandleLimit();

// Resolves a host name to its first IPv4 address; -1 with kErrHostNotFound when none. Waits as
// long as the system's resolver takes: name_lookup.h bounds the wait.
int ResolveIPv4(const std::string& host, Endpoint* out);

}  // namespace tovi::net

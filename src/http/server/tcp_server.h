// TNetTCPServer: the engine's TCP layer. It listens on its bindings, admits each accepted
// connection under its limits and makes it a TNetPeerThread, which is not a thread: it is the
// connection's state (its socket, the request in progress, whether it has begun), run in turns
// on the system threads of the server's thread manager (thread_mgr.h). Its parts, a file each:
// the bindings and the accept (socket_handle.h), accepting on one binding (listener_thread.h),
// a connection's state and its turn (peer_thread.h). Words used across the engine:
// - a turn: one system thread running one connection (Begin on its first turn, then the
//   server's step, DoExecute, again and again), until the connection ends or waits idle;
// - idle, of a connection: open and waiting for its next bytes without a system thread (see
//   TNetIdleConnections); "idle" never means a thread;
// - a kept thread: a pool thread between turns, accepting on a listener or waiting to be called.
// Who accepts: with the pool manager (the program's), kept threads accept on each binding and
// the one that accepts runs the connection's first turn; with the default manager, a listener
// thread per binding accepts and a new system thread runs each connection in one turn.
// Switching off stops accepting, wakes every open connection (each engine wait notices within
// net::kWakeCheckMs), hands idle ones back to end, and waits a bounded time for them to end.
// Ownership: a server is switched on only while owned by a std::shared_ptr, and every
// TNetPeerThread shares that ownership until its connection ends. Dropping the last outside
// reference therefore never waits for connections: a turn that outlasts a switch-off (a handler
// that does not return) keeps the server, and ends it when it ends. Whatever the events use must
// likewise outlive their threads. While its listeners run, the server also holds itself: switch
// it off before dropping it (one dropped while on stays on).
// Safety limits (TNetServerLimits): at most 256 connections served at once, 64 of one peer
// address; 4,096 waiting idle, 1,024 of one peer address; accepted sockets give up a send that
// makes no progress for 120 s.
// Thread safety: Active, properties and events are set from one controlling thread while the
// server is inactive (events must not change while it is active). Events run on the accepting
// threads and the threads of connections' turns, several at once.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/connection.h"
#include "http/header_list.h"
#include "http/server/listener_thread.h"
#include "http/server/peer_thread.h"
#include "http/server/request_scan.h"
#include "http/server/socket_handle.h"
#include "http/server/thread_mgr.h"
#include "platform/socket.h"

namespace tovi::http {

// Limits that keep one client from holding the server; fixed in the product, adjustable for
// tests. The request-level limits are used by the HTTP server.
struct TNetServerLimits {
  // Connections run on a thread at once. The default manager accepts and closes more at once; a
  // pool has them wait for a thread, in order.
  int maxServedConnections = 256;
  // Pool: of those, the turns one peer address may run at once (its others wait in line while
  // other peers' turns go ahead), so that no single device can take them all.
  int maxServedPerPeer = 64;
  // Pool: idle connections, open and waiting for a request without a thread (the process's handle
  // limit may lower it); past it, the longest-waiting one of the peer address that holds most is
  // closed, so one peer cannot crowd out all.
  int maxIdleConnections = 4096;
  // Pool: of those, the ones one peer address may hold, a quarter as of served turns (lowered in
  // proportion with the bound); past it, that peer's own longest-waiting one is closed.
  int maxIdlePerPeer = 1024;
  // Pool: threads kept between turns, accepting or waiting to be called (about the busiest
  // moment's count); more end.
  int keptThreads = 64;
  int requestHeadTimeoutMs = 30000;      // request line and header lines, complete
  int bodyStallTimeoutMs = 30000;        // no byte of a request body for this long
  int bodyTotalTimeoutMs = 60000;        // a request body, complete, from the end of its head
  int sendStallTimeoutMs = 120000;       // a send that makes no progress
  int maxHeaderLines = kMaxHeadLines;
  std::size_t maxRequestHeadBytes = kMaxHeadBytes;
  std::int64_t maxRequestBodyBytes = 16 * 1024 * 1024;
  // The memory all request bodies held at once may take together; past it a body is refused.
  std::int64_t maxBodyBytesHeld = 64 * 1024 * 1024;
  // Of those, the bytes one peer address's bodies may hold, a quarter as of served turns: one
  // device's bodies, however slow, leave the others room for theirs.
  std::int64_t maxBodyBytesHeldPerPeer = 16 * 1024 * 1024;
};

// A reply text (Greeting, MaxConnectionReply): a numeric code (0 = none) and lines.
class TNetReplyText {
 public:
  int Code() const { return code_; }
  void SetCode(int code) { code_ = code; }
  std::vector<std::string>& Text() { return lines_; }
  const std::vector<std::string>& Text() const { return lines_; }
  void SetReply(int code, std::vector<std::string> lines) {
    code_ = code;
    lines_ = std::move(lines);
  }
  void Clear() { SetReply(0, {}); }
  // Sent only when it has a code of 1 or more or at least one line.
  bool IsEmpty() const { return code_ < 1 && lines_.empty(); }
  // "code-line" CR LF for all but the last line, "code line" CR LF for the last; no code:
  // the lines; no lines: the code.
  std::string FormattedReply() const;

 private:
  int code_ = 0;
  std::vector<std::string> lines_;
};

class TNetTCPServer : public std::enable_shared_from_this<TNetTCPServer> {
 public:
  using TNetThreadEvent = std::function<void(TNetPeerThread&)>;
  using TNetExceptionEvent = std::function<void(TNetPeerThread&, const std::exception&)>;
  using TNetListenExceptionEvent =
      std::function<void(TNetListenerThread&, const std::exception&)>;

  TNetTCPServer();
  // Switches off first (bounded by TerminateWaitTime). Runs only once no TNetPeerThread holds the
  // server, so it never waits for one.
  virtual ~TNetTCPServer();
  TNetTCPServer(const TNetTCPServer&) = delete;
  TNetTCPServer& operator=(const TNetTCPServer&) = delete;

  bool Active() const { return active_; }
  // Activation / deactivation; setting the current value does nothing. Activation failures
  // (ENetInvalidSocket, ENetCouldNotBindSocket, ENetSocketError) leave the server inactive
  // with no listener running; a server not owned by a std::shared_ptr raises std::logic_error.
  // Deactivation may raise ENetTerminateThreadTimeout: the listeners are stopped all the same
  // and the connections aborted; their threads end on their own, keeping the server meanwhile.
  void SetActive(bool active);

  TNetSocketHandles& Bindings() { return bindings_; }
  int DefaultPort() const { return bindings_.DefaultPort(); }
  void SetDefaultPort(int port) { bindings_.SetDefaultPort(port); }
  int ListenQueue() const { return listenQueue_; }
  void SetListenQueue(int backlog) { listenQueue_ = backlog; }
  int MaxConnections() const { return maxConnections_; }
  void SetMaxConnections(int count) { maxConnections_ = count; }
  TNetReplyText& MaxConnectionReply() { return maxConnectionReply_; }
  TNetReplyText& Greeting() { return greeting_; }
  int TerminateWaitTime() const { return terminateWaitTimeMs_; }
  void SetTerminateWaitTime(int ms) { terminateWaitTimeMs_ = ms; }
  TNetReuseSocket ReuseSocket() const { return reuseSocket_; }
  void SetReuseSocket(TNetReuseSocket reuse) { reuseSocket_ = reuse; }
  // When none is set, activation makes a TNetThreadMgrDefault of its own. A borrowed manager
  // must outlive the server's connections; a shared one lives as long as the server.
  TNetThreadMgr* ThreadMgr() const { return threadMgr_; }
  void SetThreadMgr(TNetThreadMgr* borrowed) {
    sharedThreadMgr_.reset();
    threadMgr_ = borrowed;
  }
  void SetThreadMgr(std::shared_ptr<TNetThreadMgr> shared) {
    sharedThreadMgr_ = std::move(shared);
    threadMgr_ = sharedThreadMgr_.get();
  }
  // Not owned; when none is set, activation makes a TNetServerIOHandlerSocket of its own.
  TNetServerIOHandlerSocket* IOHandler() const { return ioHandler_; }
  void SetIOHandler(TNetServerIOHandlerSocket* handler) { ioHandler_ = handler; }
  const TNetServerLimits& Limits() const { return limits_; }
  void SetLimits(const TNetServerLimits& limits) { limits_ = limits; }

  // Connections open now, in a turn, in line for one, or idle (the live-connection list).
  std::size_t ConnectionCount() const;

  // For its listeners (TNetListenerThread), on their threads or the pool's: the TNetPeerThread of
  // a connection just accepted, listed as live; nullptr when a limit refused it (then sent
  // MaxConnectionReply and closed).
  TNetPeerThread* AdmitAccepted(std::unique_ptr<TNetTCPServerConnection>& connection);
  // Runs an admitted connection's first turn on a thread of the manager's; when none can be had
  // the connection is closed unserved and the failure raised.
  void RunFirstTurn(TNetPeerThread* thread);

  TNetThreadEvent OnConnect;
  TNetThreadEvent OnDisconnect;
  TNetExceptionEvent OnException;
  TNetListenExceptionEvent OnListenException;
  // The per-connection step of a bare TCP server; the HTTP server has its request loop instead.
  TNetThreadEvent OnExecute;

 protected:
  // The per-connection step; false raises ENetNoExecuteSpecified.
  virtual bool DoExecute(TNetPeerThread& thread);
  // Hooks around activation and deactivation for derived servers.
  virtual void BeforeActivate() {}
  virtual void BeforeDeactivate() {}
  // Called for an exception that left DoExecute, before the turn classifies it.
  void ReportException(TNetPeerThread& thread, const std::exception& e);

 private:
  // A connection runs the server's step, reports what ends it and leaves the live list.
  friend class TNetPeerThread;

  void Activate();
  void Deactivate();
  void StopListeners();
  void OpenListener(TNetSocketHandle& binding);
  // Lists the connection as live, or false when a limit refuses it.
  bool Admit(TNetPeerThread* thread);
  std::size_t ConnectionLimit() const;
  void Refuse(TNetPeerThread* thread);
  void RemoveLive(TNetPeerThread* thread);
  void ReleaseThreadMgr();
  bool WaitForConnections(int polls);
  void AbortConnections();

  bool active_ = false;
  TNetSocketHandles bindings_{0};
  int listenQueue_ = 15;
  int maxConnections_ = 0;
  TNetReplyText maxConnectionReply_;
  TNetReplyText greeting_;
  int terminateWaitTimeMs_ = 5000;
  TNetReuseSocket reuseSocket_ = TNetReuseSocket::rsOSDependent;
  TNetThreadMgr* threadMgr_ = nullptr;
  std::unique_ptr<TNetThreadMgr> ownThreadMgr_;
  std::shared_ptr<TNetThreadMgr> sharedThreadMgr_;
  TNetServerIOHandlerSocket* ioHandler_ = nullptr;
  std::unique_ptr<TNetServerIOHandlerSocket> ownIOHandler_;
  TNetServerLimits limits_;

  std::mutex listenersLock_;
  std::vector<std::unique_ptr<TNetListenerThread>> listeners_;
  // Held from activation until the listeners have stopped: a listener never holds the last
  // reference, so the server is never destroyed on (and never has to join) a listener thread.
  std::shared_ptr<TNetTCPServer> selfWhileListening_;
  mutable std::mutex liveLock_;
  std::vector<TNetPeerThread*> live_;
};

}  // namespace tovi::http

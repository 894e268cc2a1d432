// TNetTCPServer: the engine's TCP layer. It listens on its bindings, admits each accepted
// connection under its limits and makes it a TNetPeerThread, which is not a thread: it is the
// connection's state (its socket, the request in progress, whether it has begun), run in turns
// on the system threads of the server's thread manager (thread_mgr.h). Words used across the
// engine:
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
// Safety limits (TNetServerLimits): at most 256 connections served at once; accepted sockets
// give up a send that makes no progress for 120 s.
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
#include "http/server/request_scan.h"
#include "http/server/thread_mgr.h"
#include "http/server/thread_pool.h"
#include "platform/socket.h"

namespace tovi::http {

class TNetTCPServer;
class TNetPeerThread;

enum class TNetReuseSocket { rsOSDependent, rsTrue, rsFalse };

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
  // limit may lower it); past it, the one whose read deadline comes first (about the one waiting
  // longest) is closed, so one peer cannot crowd out all.
  int maxIdleConnections = 4096;
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

// A local endpoint to listen on, or the description of an accepted socket.
class TNetSocketHandle {
 public:
  const std::string& IP() const { return ip_; }
  void SetIP(const std::string& ip) { ip_ = ip; }  // dotted IPv4; empty: all local addresses
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  int ClientPortMin() const { return clientPortMin_; }
  void SetClientPortMin(int port) { clientPortMin_ = port; }
  int ClientPortMax() const { return clientPortMax_; }
  void SetClientPortMax(int port) { clientPortMax_ = port; }
  net::SocketHandle Handle() const { return handle_; }
  bool HandleAllocated() const { return handle_ != net::kInvalidSocket; }
  const std::string& PeerIP() const { return peerIP_; }
  int PeerPort() const { return peerPort_; }

  // Used by the server: allocate, bind (address in use: ENetCouldNotBindSocket), listen, and
  // reading back the endpoints of a socket.
  void AllocateSocket();
  void Bind(bool reuseAddress);
  void Listen(int backlog);
  // An accepted socket; reads both endpoints (the local one is the listening binding's, when that
  // has an address of its own).
  void Adopt(net::SocketHandle handle, const TNetSocketHandle& listening);
  void CloseSocket();
  net::SocketHandle Release();           // gives up the handle without closing it

 private:
  std::string ip_;
  int port_ = 0;
  int clientPortMin_ = 0;
  int clientPortMax_ = 0;
  net::SocketHandle handle_ = net::kInvalidSocket;
  std::string peerIP_;
  int peerPort_ = 0;
};

class TNetSocketHandles {
 public:
  explicit TNetSocketHandles(int defaultPort) : defaultPort_(defaultPort) {}
  int DefaultPort() const { return defaultPort_; }
  void SetDefaultPort(int port) { defaultPort_ = port; }
  // Appends a binding with an empty IP and Port = DefaultPort; the reference stays valid.
  TNetSocketHandle& Add();
  std::size_t Count() const { return items_.size(); }
  TNetSocketHandle& operator[](std::size_t i) { return *items_[i]; }
  void Clear() { items_.clear(); }

 private:
  int defaultPort_;
  std::vector<std::unique_ptr<TNetSocketHandle>> items_;
};

// The connection a TNetPeerThread owns: the socket with its buffered reads and bounded writes
// (TNetTCPConnection); Binding() describes its socket (peer address and port). Request() keeps
// what the HTTP server's request loop knows of the request arriving on it, from one turn to the
// next (request_scan.h).
class TNetTCPServerConnection : public TNetTCPConnection {
 public:
  TNetSocketHandle& Binding() { return binding_; }
  TNetRequestProgress& Request() { return request_; }

 private:
  TNetSocketHandle binding_;
  TNetRequestProgress request_;
};

// TNetPeerThread: one accepted connection's state, handed to every connection event and to
// handlers. Not a system thread: it owns the connection, and its manager runs it in turns on
// its system threads (a kept pool thread, or a new one); while idle, no thread runs it. A turn,
// from the outside in: Run (one turn, and the hand-over to wait idle when its step asks for it)
// calls Turn (Begin on the first turn, then ExecuteStep until the connection ends or asks to
// wait idle; an exception ends the connection and is recorded), which calls ExecuteStep (one
// call of the server's DoExecute, socket failures reported), which for the HTTP server is its
// request loop (http_server.h).
class TNetPeerThread {
 public:
  TNetPeerThread(TNetTCPServer& server, std::unique_ptr<TNetTCPServerConnection> connection);
  TNetPeerThread(const TNetPeerThread&) = delete;
  TNetPeerThread& operator=(const TNetPeerThread&) = delete;

  TNetTCPServerConnection& Connection() { return *connection_; }
  TNetTCPServer& Server() { return server_; }
  // The peer's address as accepted (its turns count against maxServedPerPeer).
  const std::string& Peer() const { return peer_; }
  bool Stopped() const { return stopped_.load(); }
  void Stop() { stopped_ = true; }
  // Class name and message of an exception that ended the connection; empty when none did.
  const std::string& TerminatingExceptionClass() const { return exceptionClass_; }
  const std::string& TerminatingException() const { return exceptionMessage_; }

  // Whether this is the connection's first turn (it was accepted on this system thread, where
  // the manager accepts on its threads).
  bool FirstTurn() const { return turns_ == 1; }
  // Whether the per-connection step may have the connection wait idle (a manager that lets
  // connections wait so, while the server is on, and no hand-over of this one refused before).
  bool CanWaitIdle() const;
  // Asks, from within the per-connection step, that the connection wait idle; it only sets a
  // flag. The step must then return at once, leaving the connection open. Once it has, Run
  // hands the connection to the manager (TNetThreadMgr::HandOverIdle) and the turn ends; the
  // next turn runs, on any system thread, when bytes or the peer's close come, the connection's
  // read deadline passes, or the server switches off (the connection then aborted). Should the
  // manager refuse it, the step runs again at once on this thread, and CanWaitIdle() is false
  // from then on.
  void WaitIdle() { waitIdle_ = true; }

 private:
  friend class TNetTCPServer;
  friend class TNetThreadMgr;
  friend class TNetThreadPool;
  // One turn on a system thread, and the hand-over when the step asked to wait idle; false when
  // that thread should not run others (an exception the engine does not know of ended the
  // connection).
  bool Run();
  // The start of the connection (first turn), then the step until the connection ends (false)
  // or asks to wait idle (true).
  bool Turn();
  void Begin();
  void ExecuteStep();
  void Finish();

  TNetTCPServer& server_;
  std::shared_ptr<TNetTCPServer> keepAlive_;  // from accept until the connection has ended
  std::unique_ptr<TNetTCPServerConnection> connection_;
  const std::string peer_;
  std::atomic<bool> stopped_{false};
  std::atomic<bool> listed_{false};  // on the server's live-connection list
  bool ran_ = false;                 // a turn has begun
  int turns_ = 0;                    // turns begun, counted up to 2
  bool begun_ = false;               // greeting and OnConnect done
  bool waitIdle_ = false;            // WaitIdle asked, until Turn returns
  bool idleRefused_ = false;         // the manager would not take it to wait idle
  bool foreignException_ = false;    // ended by an exception the engine does not know of
  std::string exceptionClass_;
  std::string exceptionMessage_;
};

// Accepts connections on a listening binding; activation makes one when none is set.
class TNetServerIOHandlerSocket {
 public:
  virtual ~TNetServerIOHandlerSocket() = default;
  // Waits in bounded accepts of 100 ms (several threads may wait so on one socket) until a
  // connection comes; kInvalidSocket when stopped() turns true or the socket is gone (errors
  // 10004, 10009, 10038). With the process or the system out of handles or buffers (10024,
  // 10055) it pauses and tries again, the pause growing while it lasts (see the definition), so
  // a lasting shortage does not spin; stopped() ends the pause within kListenPollMs. Other
  // failures raise ENetSocketError.
  virtual net::SocketHandle Accept(TNetSocketHandle& listening,
                                   const std::function<bool()>& stopped);
};

// TNetListenerThread: accepting on one binding until stopped. AcceptNext accepts one connection
// and makes it an admitted TNetPeerThread. With the default manager it is a system thread of
// its own (Run: accept, then start the connection's turn on a new thread); with the pool it has
// no thread: it is the accept source that kept threads call (each runs the connection it
// accepted).
class TNetListenerThread : public TNetAcceptSource {
 public:
  TNetListenerThread(TNetTCPServer& server, TNetSocketHandle& binding)
      : server_(server), binding_(binding) {}
  TNetSocketHandle& Binding() { return binding_; }
  TNetTCPServer& Server() { return server_; }
  bool Stopped() const { return stopped_.load(); }

  TNetPeerThread* AcceptNext() override;
  bool Ended() const override { return Stopped(); }
  net::SocketHandle ListeningSocket() const override { return binding_.Handle(); }

 private:
  friend class TNetTCPServer;
  void Run();

  TNetTCPServer& server_;
  TNetSocketHandle& binding_;
  std::thread thread_;
  bool pooled_ = false;  // accepted on by the manager's threads
  std::atomic<bool> stopped_{false};
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
  friend class TNetPeerThread;
  friend class TNetListenerThread;

  void Activate();
  void Deactivate();
  void StopListeners();
  void OpenListener(TNetSocketHandle& binding);
  // The TNetPeerThread of an accepted connection, listed as live; nullptr when a limit refused
  // it.
  TNetPeerThread* Admitted(std::unique_ptr<TNetTCPServerConnection>& connection);
  // Runs its first turn on a thread of the manager's.
  void Start(TNetPeerThread* thread);
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

// TNetThreadMgr: what runs a server's connections. For each accepted connection it makes the
// TNetPeerThread (the connection's state, handed to every event; not a system thread) and runs
// its turns on system threads of its TNetThreadPool. Two kinds:
// - TNetThreadMgrDefault: a new system thread for every connection, which runs it whole (one
//   turn) and ends; the server's own listener threads accept.
// - TNetThreadMgrPool (the program's): threads are kept between turns and, where the system
//   wakes one waiter per connection (Linux), accept connections themselves (the thread that
//   accepts one serves it, with no hand-over to another; on Windows, where a connection wakes
//   every waiter, the server's listener thread accepts and hands connections to them), and a
//   connection that waits for its next bytes waits idle: it holds no thread, is watched with
//   all the others in one readiness wait (TNetIdleConnections), and gets a thread again when
//   its bytes come. Bounds: TNetServerLimits, lowered by the open-file limit (HandleSharesFor).
// "Idle" here always means such a waiting connection; threads between turns are "kept".
// Events fire the same with either. A manager serves one server at a time; the server opens it
// at activation and closes it at deactivation. Threads of its own never outlive what they use:
// each holds the thread pool, and while it runs a connection, the server.
// Thread safety: GetThread, ReleaseThread, the counts and Reap from any thread.
#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace tovi::http {

class TNetAcceptSource;
class TNetIdleConnections;
class TNetPeerThread;
class TNetTCPServer;
class TNetTCPServerConnection;
class TNetThreadPool;
struct TNetServerLimits;

// What the process's open-file limit leaves for connections: served at once (each may hold its
// socket and a file) and waiting idle (each its socket).
struct TNetHandleShares {
  std::size_t served = 0;
  std::size_t idle = 0;
  std::size_t idlePerPeer = 0;  // of idle, one peer address's (0: no share)
};
// The limits' bounds as far as `handles` open files allow, never zero (of a bound above zero);
// ENetSocketError (10024) with a message that says so when they are too few to serve at all.
TNetHandleShares HandleSharesFor(const TNetServerLimits& limits, std::size_t handles);

class TNetThreadMgr {
 public:
  TNetThreadMgr();
  virtual ~TNetThreadMgr();  // kept threads end; busy ones when their connection does
  TNetThreadMgr(const TNetThreadMgr&) = delete;
  TNetThreadMgr& operator=(const TNetThreadMgr&) = delete;

  // The TNetPeerThread of a new connection, owned here and listed as active until released.
  virtual TNetPeerThread* GetThread(TNetTCPServer& server,
                                    std::unique_ptr<TNetTCPServerConnection> connection);
  // Takes the thread off the active list: one that has run is freed by a later Reap (it may
  // still be on its way out), one that never ran at once.
  virtual void ReleaseThread(TNetPeerThread* thread);
  std::size_t ActiveCount() const;
  // Connections now waiting idle (for their next bytes, without a thread).
  std::size_t WaitingIdleCount() const;
  // System threads now kept between turns (waiting to be called, or accepting on a listener).
  std::size_t KeptThreadCount() const;
  // Frees released TNetPeerThreads and joins ended system threads; never waits for a running one.
  void Reap();
  // Whether connections may wait idle now (a pool, between its opening and StopWaitingIdle).
  bool WaitsIdle() const;
  // The hand-over, called by TNetPeerThread::Run on the thread of a turn whose step asked to
  // wait idle (TNetPeerThread::WaitIdle, which only sets a flag) and has returned. True: the
  // connection now waits in TNetIdleConnections; from this call on another system thread may
  // run its next turn (even before this returns), so the caller must not touch it again. False
  // (not a pool, switching off, or a socket the readiness wait refuses): the caller keeps the
  // connection and goes on with it on this thread.
  bool HandOverIdle(TNetPeerThread* thread);

 protected:
  // keepsThreads: threads are kept and connections wait for requests without one.
  explicit TNetThreadMgr(bool keepsThreads);

 private:
  // The server opens and closes it, lets it accept and run connections, and asks for room.
  friend class TNetTCPServer;

  // Raises ENetSocketError (10024) when the open-file limit is too low to serve at all.
  void Open(TNetTCPServer& server);
  // Hands every idle connection back to be run (to end, the server being switched off); from
  // now on none waits idle.
  void StopWaitingIdle();
  // Kept threads end; busy ones end when their turns do.
  void EndThreads();
  // Runs the thread's next turn; std::system_error when no system thread can run it.
  void Start(TNetPeerThread* thread);
  // Whether its own threads accept connections (and run their first turns) instead of a
  // listener thread of the server's: a pool's, where a connection wakes only one waiter.
  bool AcceptsOnPool() const;
  // A listening socket its threads accept on, until removed (which waits for the one accepting).
  void AddSource(TNetAcceptSource* source);
  void RemoveSource(TNetAcceptSource* source);
  // Room for one more idle connection of peer, asked at accept: false when the bound (counting
  // the turns in line, which hold sockets too) is reached and no idle connection could be closed
  // for it. The one closed is peer's own when it holds its share, else one of the peer that
  // holds most (TNetIdleConnections::MakeRoomFor).
  bool MakeRoomForIdle(const std::string& peer);

  const bool keepsThreads_;
  std::shared_ptr<TNetThreadPool> pool_;
  std::unique_ptr<TNetIdleConnections> idle_;
  mutable std::mutex lock_;
  std::unordered_map<TNetPeerThread*, std::unique_ptr<TNetPeerThread>> active_;
  std::vector<std::unique_ptr<TNetPeerThread>> finished_;
};

// A new system thread for every connection, never reused; a connection holds it throughout
// (connections never wait idle).
class TNetThreadMgrDefault : public TNetThreadMgr {
 public:
  TNetThreadMgrDefault() : TNetThreadMgr(false) {}
};

// Up to TNetServerLimits::keptThreads threads kept between turns; at most maxServedConnections
// turns run at once (more wait for a thread, in order), of them at most maxServedPerPeer of one
// peer address; up to maxIdleConnections connections wait idle, of them at most maxIdlePerPeer
// of one peer address; past either, the longest-waiting connection of the peer that holds most
// is closed. The handle limit may lower the served and the waiting bounds (HandleSharesFor).
class TNetThreadMgrPool : public TNetThreadMgr {
 public:
  TNetThreadMgrPool() : TNetThreadMgr(true) {}
};

}  // namespace tovi::http

// Thread managers: they hand out a peer thread (the object every connection event receives) for
// each connection and run its turns on system threads. TNetThreadMgrDefault makes a system
// thread for every connection and ends it after. TNetThreadMgrPool, what a busy server wants,
// keeps finished threads for the next connection, accepts on them where the system wakes one
// waiter per connection (the thread that accepts a connection serves it, with no hand-over to
// another; elsewhere a listener thread hands connections to them), and lets a connection that
// waits for its next request hold no thread: it waits in one readiness wait with all the others
// and gets a thread again when its bytes come (bounds: TNetServerLimits). Events fire the same with either.
// A manager serves one server at a time; the server opens it at activation and closes it at
// deactivation. Threads of its own never outlive what they use: each holds the thread pool, and
// while it runs a connection, the server.
// Thread safety: GetThread, ReleaseThread, the counts and Reap from any thread.
#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
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
// socket and a file) and waiting for a request without a thread (each its socket).
struct TNetHandleShares {
  std::size_t served = 0;
  std::size_t idle = 0;
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

  // A peer thread for a new connection, listed as active until released.
  virtual TNetPeerThread* GetThread(TNetTCPServer& server,
                                    std::unique_ptr<TNetTCPServerConnection> connection);
  // Takes the thread off the active list: one that has run is freed by a later Reap (it may
  // still be on its way out), one that never ran at once.
  virtual void ReleaseThread(TNetPeerThread* thread);
  std::size_t ActiveCount() const;
  // Connections now waiting for their next bytes without a thread.
  std::size_t WaitingIdleCount() const;
  // Finished threads now kept for the next connection (waiting for a turn or on a listener).
  std::size_t KeptThreadCount() const;
  // Frees released peer threads and joins ended system threads; never waits for a running one.
  void Reap();

 protected:
  // keepsThreads: threads are kept and connections wait for requests without one.
  explicit TNetThreadMgr(bool keepsThreads);

 private:
  friend class TNetTCPServer;
  friend class TNetPeerThread;

  // Raises ENetSocketError (10024) when the open-file limit is too low to serve at all.
  void Open(TNetTCPServer& server);
  // Hands every connection waiting without a thread back to be run (to end, the server being
  // switched off); from now on none waits so.
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
  bool WaitsIdle() const;
  // Takes the connection to wait for its next bytes without a thread; false when it cannot.
  bool WaitIdle(TNetPeerThread* thread);
  // Room for one more connection without a thread: false when the bound is reached and no
  // waiting connection could be closed for it.
  bool MakeRoomForIdle();

  const bool keepsThreads_;
  std::shared_ptr<TNetThreadPool> pool_;
  std::unique_ptr<TNetIdleConnections> idle_;
  mutable std::mutex lock_;
  std::unordered_map<TNetPeerThread*, std::unique_ptr<TNetPeerThread>> active_;
  std::vector<std::unique_ptr<TNetPeerThread>> finished_;
};

// A new system thread for every connection, never reused; a connection holds it throughout.
class TNetThreadMgrDefault : public TNetThreadMgr {
 public:
  TNetThreadMgrDefault() : TNetThreadMgr(false) {}
};

// Up to TNetServerLimits::keptThreads finished threads kept for the next connection; at most
// maxServedConnections connections run at once (more wait for a thread, in order), of them at
// most maxServedPerPeer from one peer address; up to maxIdleConnections wait for a request
// without a thread, past which the one waiting longest is closed. The handle limit may lower
// the served and the waiting bound (HandleSharesFor).
class TNetThreadMgrPool : public TNetThreadMgr {
 public:
  TNetThreadMgrPool() : TNetThreadMgr(true) {}
};

}  // namespace tovi::http

// TNetIdleConnections: the idle connections of a pool manager, i.e. open connections waiting
// for their next bytes (a request's head or the rest of a POST body) without a system thread
// ("idle" in the engine's threading always means such a connection, never a thread). One
// watching thread of its own keeps them all in the platform's readiness wait and hands each
// back (the manager lines its next turn up in the thread pool) when bytes or its peer's close
// come, when its read deadline passes, or when the waiting is closed. The same wait also
// watches listening sockets for the pool while no kept thread accepts on them. At most a bound
// of connections wait, and of them at most a share from one peer address: the manager makes
// room when it admits a connection (MakeRoomFor closes one and hands it back, to end as a
// connection closed under its reader does); Add keeps the peer's share (a connection admitted
// while it waited in line for a thread did not count among its peer's then), not the bound.
// The one closed is always of the peer that holds most, so a flood from one device ends its own
// connections, not another device's.
// Thread safety: every operation from any thread. A connection here is used by no other thread
// (only Abort() may be called on it) until it is handed back.
#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/readiness.h"

namespace tovi::http {

class TNetPeerThread;

class TNetIdleConnections {
 public:
  using Clock = std::chrono::steady_clock;
  using HandBack = std::function<void(TNetPeerThread*)>;

  explicit TNetIdleConnections(HandBack handBack) : handBack_(std::move(handBack)) {}
  ~TNetIdleConnections();  // Close()

  // Starts watching (one thread, one readiness wait); std::system_error when the system gives
  // neither. bound: connections waiting at once; peerShare: of them, one peer address's.
  void Open(std::size_t bound, std::size_t peerShare);
  // Hands every waiting connection back and ends the watching thread; Add fails from now on.
  void Close();
  bool IsOpen() const;
  // Takes the connection to wait; false when closed or when its socket cannot be watched. When
  // its peer then holds more than its share, the peer's longest-waiting one is closed.
  bool Add(TNetPeerThread* thread);
  // Room for one more connection of peer, asked as it is admitted (alsoHeld: connections that
  // hold sockets elsewhere, in line for a thread). When peer holds its share already, its own
  // longest-waiting connection is closed and handed back; else, at the bound, the
  // longest-waiting one of the peer that holds most. False when room was needed and none waits.
  bool MakeRoomFor(const std::string& peer, std::size_t alsoHeld);
  // Watches a listening socket until a connection is there, then calls ready() once (on the
  // watching thread); false when closed or when the socket cannot be watched.
  bool WatchListener(net::SocketHandle listening, std::function<void()> ready);
  void ForgetListener(net::SocketHandle listening);
  std::size_t Count() const;
  std::size_t Bound() const;
  // The connections waiting now from peer.
  std::size_t CountOf(const std::string& peer) const;

 private:
  // Waiting connections in the order they are due: the first is the one waiting longest (a
  // request's deadline is set as its head begins, and kept while the head comes piecemeal).
  using DueOrder = std::set<std::pair<Clock::time_point, std::uint64_t>>;
  struct Waiting {
    TNetPeerThread* thread;
    Clock::time_point deadline;
    std::string peer;
  };

  void Watch();
  int MsUntilFirstDue(Clock::time_point now) const;
  std::vector<TNetPeerThread*> TakeReady(const std::vector<std::uint64_t>& tags,
                                         std::vector<std::function<void()>>& listenersReady);
  std::vector<TNetPeerThread*> TakeDue();
  TNetPeerThread* Take(std::uint64_t tag);
  // Outside the lock: ends a connection taken to make room and hands it back.
  void CloseTaken(TNetPeerThread* thread);
  // Under the lock: the waiting connections one of which MakeRoomFor closes, null when there is
  // room (*needed false) or none to close.
  const DueOrder* ToCloseFor(const std::string& peer, std::size_t alsoHeld, bool* needed) const;
  // Keeps byPeer_ and peersByCount_ with a connection that starts or stops waiting.
  void CountPeer(const Waiting& waiting, std::uint64_t tag, bool starts);
  void HandBackAll(const std::vector<TNetPeerThread*>& threads);

  HandBack handBack_;
  std::unique_ptr<net::ReadinessWait> wait_;
  std::thread watcher_;
  mutable std::mutex lock_;
  // Written under the lock, read without it.
  std::atomic<bool> open_{false};
  std::atomic<std::size_t> bound_{0};
  std::size_t peerShare_ = 0;
  std::atomic<std::size_t> count_{0};  // waiting_.size()
  std::uint64_t nextTag_ = 1;
  std::unordered_map<std::uint64_t, Waiting> waiting_;
  struct Listener {
    net::SocketHandle socket;
    std::function<void()> ready;
  };
  std::unordered_map<std::uint64_t, Listener> listeners_;  // at most one per listening socket
  DueOrder byDeadline_;
  std::unordered_map<std::string, DueOrder> byPeer_;  // peers with connections waiting
  std::set<std::pair<std::size_t, std::string>> peersByCount_;  // the last holds most
  Clock::time_point watchUntil_ = Clock::time_point::max();  // when the current wait ends
};

}  // namespace tovi::http

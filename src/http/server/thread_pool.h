// The system threads of a thread manager: each runs one peer thread's turn at a time (a turn is
// a connection's work until it ends or waits without a thread), and they take new connections
// themselves: up to four threads at a time wait on each listening socket (an accept source; one
// where a connection wakes every waiter), and the thread that accepts a connection runs its
// first turn itself, without handing it to another. While none waits there, the listening
// socket is watched (the manager's readiness wait): a connection that comes before one is back
// calls another thread to accept it. Turns wait in line, in order, while maxBusy threads are
// running, and a turn whose peer address already runs maxPerPeer turns lets later turns of other
// peers pass it; a thread that finishes takes the next, or accepts, or waits for one if fewer
// than `kept` wait already, or ends. Ended threads are joined by Reap or Stop, never while they
// run a turn. Owned by a std::shared_ptr: each thread holds the pool, so a thread still in a turn
// when the manager goes keeps it, and the last one frees it.
// Thread safety: every operation from any thread.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/socket.h"

namespace tovi::http {

class TNetPeerThread;

// A listening socket that pool threads accept on.
class TNetAcceptSource {
 public:
  virtual ~TNetAcceptSource() = default;
  // Waits for the next connection: its turn, admitted (lined up by the caller), or nullptr when
  // there is none to run (refused, a failure, or accepting has ended: then Ended()).
  virtual TNetPeerThread* AcceptNext() = 0;
  virtual bool Ended() const = 0;
  virtual net::SocketHandle ListeningSocket() const = 0;
};

class TNetThreadPool : public std::enable_shared_from_this<TNetThreadPool> {
 public:
  ~TNetThreadPool();

  // kept: idle threads kept; maxBusy: turns run at once; maxPerPeer: turns of one peer address
  // run at once (0: no limit, for either). Also undoes Stop.
  void Open(int kept, int maxBusy, int maxPerPeer = 0);
  // Lines the turn up and wakes or makes a thread for it. When no thread can be made and none
  // would take it, it is taken out of the line again and std::system_error raised.
  void Run(TNetPeerThread* turn);
  // Lines the turn up even when no thread can be made now: the next thread made takes it.
  void RunWhenPossible(TNetPeerThread* turn);
  // Idle threads end (joined here, within a short bound); busy ones end once the line is empty.
  void Stop();
  // Joins threads that have ended; never waits for one in a turn.
  void Reap();
  // Called in a turn that is about to hand its connection over to wait without a thread: the
  // thread looks at the line again at once, so a turn lined up meanwhile (that connection's own,
  // often) is left to it instead of waking or making another.
  void ExpectReturn();
  // The hand-over failed and the turn goes on; a turn left to this thread gets another.
  void CancelReturn();
  // Turns in line, waiting for a thread.
  std::size_t Waiting() const;
  // Threads kept, waiting for a turn or a connection.
  std::size_t Kept() const;

  // Watches a listening socket while no thread accepts on it: false when it cannot (no thread
  // then accepts until one is back); ready() when a connection is there. Forget: the watch ends.
  using WatchListener = std::function<bool(net::SocketHandle, std::function<void()> ready)>;
  using ForgetListener = std::function<void(net::SocketHandle)>;
  void SetListenerWatch(WatchListener watch, ForgetListener forget);
  // A thread starts accepting on the source (one that is free now, or one made for it).
  void AddSource(TNetAcceptSource* source);
  // No thread accepts on the source any more: waits for the one that does (until its source has
  // ended: it gives up within one accept wait, see TNetServerIOHandlerSocket).
  void RemoveSource(TNetAcceptSource* source);

 private:
  struct Worker {
    std::thread thread;
  };
  using WorkerList = std::list<Worker>;
  struct Source {
    TNetAcceptSource* source;
    int accepting = 0;       // threads accepting on it now
    bool watched = false;    // its listening socket is watched meanwhile
  };

  void Loop(WorkerList::iterator self, std::shared_ptr<TNetThreadPool> keep);
  // Lines the turn up; true when an idle thread is to be called for it (after the lock).
  bool LineUp(TNetPeerThread* turn, bool mayFail);
  // Runs the first turn in line when one may run; false when none did. keep: whether the thread
  // may go on to others.
  bool TakeTurn(std::unique_lock<std::mutex>& lock, bool* keep);
  // The first turn in line whose peer may run one more; line_.end() when none may.
  std::deque<TNetPeerThread*>::iterator NextTurn();
  // Accepts on a source that no thread accepts on, and lines the connection up first for this
  // thread; false when every source has its thread.
  bool Accept(std::unique_lock<std::mutex>& lock);
  // A connection came while no thread accepted on the source.
  void ListenerReady(TNetAcceptSource* source);
  // An idle thread is called to accept, or one made.
  void CallForAccepting();
  // Waits to be called; false when the thread is to end instead.
  bool WaitForCall(std::unique_lock<std::mutex>& lock);
  void Leave(WorkerList::iterator self);
  // True when an idle thread is to be called; else makes a thread when the limit allows.
  bool CallOrMakeThread();
  void MakeThread();
  static void JoinAll(std::vector<std::thread>& threads);

  mutable std::mutex lock_;
  std::condition_variable called_;
  std::condition_variable callWaiterLeft_;
  std::condition_variable sourceLeft_;
  std::list<Source> sources_;
  WatchListener watchListener_;
  ForgetListener forgetListener_;
  int accepting_ = 0;  // threads accepting on a source
  std::deque<TNetPeerThread*> line_;
  std::atomic<std::size_t> waiting_{0};  // line_.size(), read without the lock
  WorkerList workers_;
  std::vector<std::thread> ended_;
  int kept_ = 0;
  int maxBusy_ = 0;
  int maxPerPeer_ = 0;
  std::unordered_map<std::string, int> busyPerPeer_;  // peers with turns running, and how many
  int busy_ = 0;      // threads in a turn
  int waitingForCall_ = 0;  // kept threads waiting to be called
  int calls_ = 0;     // calls made to idle threads and not yet taken
  int starting_ = 0;  // threads made that have not yet looked at the line
  int returning_ = 0;  // threads expected back at the line (ExpectReturn), not yet counted on
  bool stopping_ = false;
};

}  // namespace tovi::http

// TNetThreadPool: the system threads of a thread manager (thread_mgr.h). Each runs one
// connection's turn at a time (a turn: a TNetTurn, the engine's TNetPeerThread, run until its
// connection ends or waits idle, i.e. for its next bytes without a thread), and between turns it
// is a kept thread: it accepts on a listening socket or waits to be called for a turn.
// Accepting (only where a connection wakes one waiter: elsewhere the server's listener thread
// accepts and lines turns up): up to four threads at a time wait on each listening socket (an
// accept source), and the thread that accepts a connection runs its first turn itself, unless
// turns already wait in line (then the new one lines up behind them).
// While none waits there, the listening socket is watched (the manager's readiness wait): a
// connection that comes before one is back calls another thread to accept it.
// The line: turns wait in it, in order, while maxBusy threads are running, and a turn whose peer
// address already runs maxPerPeer turns lets later turns of other peers pass it. A thread that
// finishes a turn takes the next, or accepts, or waits for a call if fewer than `kept` threads
// are kept already, or ends. Ended threads are joined by Reap or Stop, never while they run a
// turn. Owned by a std::shared_ptr: each thread holds the pool, so a thread still in a turn
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

// What the pool runs: a connection's turns (the engine's is TNetPeerThread). Not owned by the
// pool; it stays valid until its last turn has returned.
class TNetTurn {
 public:
  virtual ~TNetTurn() = default;
  // Runs the connection on the calling thread until it ends or waits idle; false when this
  // thread should run no others (an exception the engine does not know of ended it).
  virtual bool Run() = 0;
  // The peer address whose turns count together against maxPerPeer.
  virtual const std::string& Peer() const = 0;
  // An aborted connection's turn only ends it: it may pass its peer's share.
  virtual bool Aborted() const = 0;
};

// A listening socket that pool threads accept on.
class TNetAcceptSource {
 public:
  virtual ~TNetAcceptSource() = default;
  // Waits for the next connection: its turn, admitted (lined up by the caller), or nullptr when
  // there is none to run (refused, a failure, or accepting has ended: then Ended()).
  virtual TNetTurn* AcceptNext() = 0;
  virtual bool Ended() const = 0;
  virtual net::SocketHandle ListeningSocket() const = 0;
};

class TNetThreadPool : public std::enable_shared_from_this<TNetThreadPool> {
 public:
  ~TNetThreadPool();

  // kept: threads kept between turns; maxBusy: turns run at once; maxPerPeer: turns of one peer
  // address run at once (0: no limit, for either). Also undoes Stop.
  void Open(int kept, int maxBusy, int maxPerPeer = 0);
  // Lines the turn up and wakes or makes a thread for it. When no thread can be made and none
  // would take it, it is taken out of the line again and std::system_error raised.
  void Run(TNetTurn* turn);
  // Lines the turn up even when no thread can be made now: the next thread made takes it.
  void RunWhenPossible(TNetTurn* turn);
  // Kept threads end (joined here, within a short bound); busy ones end once the line is empty.
  void Stop();
  // Joins threads that have ended; never waits for one in a turn.
  void Reap();
  // Called in a turn that is about to hand its connection over to wait idle: the
  // thread looks at the line again at once, so a turn lined up meanwhile (that connection's own,
  // often) is left to it instead of waking or making another.
  void ExpectReturn();
  // The hand-over failed and the turn goes on; a turn left to this thread gets another.
  void CancelReturn();
  // Turns in line, waiting for a thread.
  std::size_t Waiting() const;
  // Kept threads: waiting for a call or accepting on a listening socket.
  std::size_t Kept() const;

  // Watches a listening socket while no thread accepts on it: false when it cannot (no thread
  // then accepts until one is back); ready() when a connection is there. Forget: the watch ends.
  using WatchListener = std::function<bool(net::SocketHandle, std::function<void()> ready)>;
  using ForgetListener = std::function<void(net::SocketHandle)>;
  void SetListenerWatch(WatchListener watch, ForgetListener forget);
  // A thread starts accepting on the source (one that is free now, or one made for it).
  void AddSource(TNetAcceptSource* source);
  // No thread accepts on the source any more: waits for the one that does (until its source has
  // ended: the source's stop wakes its accept, see TNetSocketHandle::StopAccepting).
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
  // Lines the turn up; true when a thread waiting for a call is to be called for it (after the
  // lock).
  bool LineUp(TNetTurn* turn, bool mayFail);
  // Runs the first turn in line when one may run; false when none did. keep: whether the thread
  // may go on to others.
  bool TakeTurn(std::unique_lock<std::mutex>& lock, bool* keep);
  // The first turn in line whose peer may run one more; line_.end() when none may.
  std::deque<TNetTurn*>::iterator NextTurn();
  // Accepts on a source that no thread accepts on, and lines the connection up first for this
  // thread; false when every source has its thread.
  bool Accept(std::unique_lock<std::mutex>& lock);
  // A connection came while no thread accepted on the source.
  void ListenerReady(TNetAcceptSource* source);
  // The source's entry; sources_.end() when it is not listed.
  std::list<Source>::iterator FindSource(const TNetAcceptSource* source);
  // A thread waiting for a call is called to accept, or one made (std::system_error when none
  // can be had).
  void CallOrMakeAccepting();
  // The same, where a thread that finishes its turn accepts when none can be had now.
  void CallForAccepting();
  // Waits to be called; false when the thread is to end instead.
  bool WaitForCall(std::unique_lock<std::mutex>& lock);
  void Leave(WorkerList::iterator self);
  // True when a thread waiting for a call is to be called; else makes a thread when the limit
  // allows.
  bool CallOrMakeThread();
  void MakeThread();
  static void JoinAll(std::vector<std::thread>& threads);

  // The invariant, under lock_. Every thread in workers_ that does not hold the lock is counted
  // by exactly one of starting_, busy_, accepting_ and waitingForCall_, except a thread that has
  // just accepted and is setting up the watch of that listener (Accept): none counts it then.
  // Besides:
  // - 0 <= calls_ <= waitingForCall_: a call is made only to a thread waiting for one, and a
  //   thread that wakes takes a call when there is one.
  // - busy_ <= maxBusy_ (when above 0); busyPerPeer_ splits busy_ by peer address (no entry at
  //   zero), and a peer's count passes maxPerPeer_ only with turns of aborted connections.
  // - accepting_ is the sum of sources_' accepting, each at most AcceptingPerSource(kept_).
  // - waiting_ == line_.size() (a copy for reads without the lock).
  // - A thread starts waiting for a call only while waitingForCall_ + accepting_ < kept_.
  // - returning_ <= the threads in a turn whose tReturning (a thread_local in the .cpp) is set:
  //   ExpectReturn sets both, and a thread's flag is cleared by CancelReturn or at the end of
  //   its turn, each taking one off returning_ if any is left. Such a thread looks at the line
  //   as soon as its turn ends, so a turn left to it (CallOrMakeThread) is not stranded.
  // - A turn lined up has a thread coming for it: one called, one starting, or one in a turn or
  //   an accept (it looks at the line next; only a thread whose turn ended in an exception the
  //   engine does not know of ends without looking), save when no thread could be made: then
  //   the next thread that finishes a turn, or is made, takes it.
  mutable std::mutex lock_;
  std::condition_variable called_;
  std::condition_variable callWaiterLeft_;
  std::condition_variable sourceLeft_;
  std::list<Source> sources_;
  WatchListener watchListener_;
  ForgetListener forgetListener_;
  int accepting_ = 0;  // threads accepting on a source
  std::deque<TNetTurn*> line_;  // turns waiting for a thread, in order
  std::atomic<std::size_t> waiting_{0};  // line_.size(), read without the lock
  WorkerList workers_;  // every thread made that has not ended
  std::vector<std::thread> ended_;  // ended, to be joined
  int kept_ = 0;
  int maxBusy_ = 0;
  int maxPerPeer_ = 0;
  std::unordered_map<std::string, int> busyPerPeer_;  // peers with turns running, and how many
  int busy_ = 0;             // threads in a turn
  int waitingForCall_ = 0;   // kept threads waiting on called_
  int calls_ = 0;            // calls made to those and not yet taken
  int starting_ = 0;         // threads made that have not yet looked at the line
  int returning_ = 0;        // threads expected back at the line (ExpectReturn), not counted on
  bool stopping_ = false;
};

}  // namespace tovi::http

#include "http/server/thread_pool.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <utility>

namespace tovi::http {
namespace {

// How long Stop waits for kept threads waiting for a call to leave; called, they leave at once.
constexpr auto kKeptLeaveWait = std::chrono::seconds(2);

// Set by ExpectReturn on the thread in the turn, read when the turn ends.
thread_local bool tReturning = false;
// Threads that wait on one listening socket at once (fewer where fewer are kept): a connection
// that comes while some of them still serve the last ones finds another waiting, and no thread
// is woken for it but the one the system wakes. Each waits in slices of the accept wait (10
// wake-ups a second each while no connection comes). Sources come only where a connection wakes
// one waiter (TNetThreadMgr::AcceptsOnPool); elsewhere a listener thread hands them over.
constexpr int kAcceptingPerSource = 4;

int AcceptingPerSource(int kept) { return std::max(1, std::min(kAcceptingPerSource, kept)); }

}  // namespace

TNetThreadPool::~TNetThreadPool() {
  // Only threads past their last use of the pool are left, this one maybe among them.
  for (Worker& worker : workers_) {
    if (worker.thread.joinable()) worker.thread.detach();
  }
  for (std::thread& thread : ended_) {
    if (thread.joinable()) thread.detach();
  }
}

void TNetThreadPool::Open(int kept, int maxBusy, int maxPerPeer) {
  std::lock_guard<std::mutex> lock(lock_);
  kept_ = kept;
  maxBusy_ = maxBusy;
  maxPerPeer_ = maxPerPeer;
  stopping_ = false;
}

void TNetThreadPool::Run(TNetTurn* turn) {
  // Called after the lock: the called thread need not wait for it.
  if (LineUp(turn, true)) called_.notify_one();
}

void TNetThreadPool::RunWhenPossible(TNetTurn* turn) {
  if (LineUp(turn, false)) called_.notify_one();
}

bool TNetThreadPool::LineUp(TNetTurn* turn, bool mayFail) {
  std::lock_guard<std::mutex> lock(lock_);
  line_.push_back(turn);
  waiting_ = line_.size();
  try {
    return CallOrMakeThread();
  } catch (const std::system_error&) {
    // With no thread to be had now, one that runs takes it, or the next one made.
    if (!mayFail || busy_ + waitingForCall_ + starting_ > 0) return false;
    line_.pop_back();
    waiting_ = line_.size();
    throw;
  }
}

void TNetThreadPool::Stop() {
  std::vector<std::thread> ended;
  {
    std::unique_lock<std::mutex> lock(lock_);
    stopping_ = true;
    called_.notify_all();
    callWaiterLeft_.wait_for(lock, kKeptLeaveWait, [this] { return waitingForCall_ == 0; });
    ended.swap(ended_);
  }
  JoinAll(ended);
}

void TNetThreadPool::Reap() {
  std::vector<std::thread> ended;
  {
    std::lock_guard<std::mutex> lock(lock_);
    ended.swap(ended_);
  }
  JoinAll(ended);
}

void TNetThreadPool::ExpectReturn() {
  std::lock_guard<std::mutex> lock(lock_);
  ++returning_;
  tReturning = true;
}

void TNetThreadPool::CancelReturn() {
  std::lock_guard<std::mutex> lock(lock_);
  tReturning = false;
  if (returning_ > 0) {
    --returning_;
    return;
  }
  // A turn was left to this thread, which goes on with its own: another thread takes it.
  if (line_.empty()) return;
  try {
    MakeThread();
  } catch (const std::system_error&) {
    // The next thread that finishes a turn takes it.
  }
}

std::size_t TNetThreadPool::Waiting() const { return waiting_.load(); }

std::size_t TNetThreadPool::Kept() const {
  std::lock_guard<std::mutex> lock(lock_);
  return static_cast<std::size_t>(waitingForCall_ + accepting_);
}

void TNetThreadPool::SetListenerWatch(WatchListener watch, ForgetListener forget) {
  std::lock_guard<std::mutex> lock(lock_);
  watchListener_ = std::move(watch);
  forgetListener_ = std::move(forget);
}

void TNetThreadPool::AddSource(TNetAcceptSource* source) {
  std::lock_guard<std::mutex> lock(lock_);
  sources_.push_back(Source{source});
  try {
    for (int i = AcceptingPerSource(kept_); i > 0; --i) CallOrMakeAccepting();
  } catch (...) {
    // Without a thread to accept, the server does not switch on (threads made stay kept).
    sources_.pop_back();
    throw;
  }
}

void TNetThreadPool::RemoveSource(TNetAcceptSource* source) {
  std::unique_lock<std::mutex> lock(lock_);
  const auto it = FindSource(source);
  if (it == sources_.end()) return;
  // The source's stop woke its accepting thread.
  sourceLeft_.wait(lock, [&it] { return it->accepting == 0; });
  const bool watched = it->watched;
  sources_.erase(it);
  const ForgetListener forget = forgetListener_;
  lock.unlock();
  if (watched && forget) forget(source->ListeningSocket());
}

bool TNetThreadPool::Accept(std::unique_lock<std::mutex>& lock) {
  if (stopping_) return false;
  const int wanted = AcceptingPerSource(kept_);
  auto it = std::find_if(sources_.begin(), sources_.end(), [wanted](const Source& s) {
    return s.accepting < wanted && !s.source->Ended();
  });
  if (it == sources_.end()) return false;
  ++it->accepting;
  ++accepting_;
  const bool forget = std::exchange(it->watched, false);
  TNetAcceptSource* const source = it->source;
  const WatchListener watch = watchListener_;
  const ForgetListener forgetListener = forgetListener_;
  lock.unlock();
  if (forget && forgetListener) forgetListener(source->ListeningSocket());
  TNetTurn* const turn = source->AcceptNext();
  lock.lock();
  // Still listed: a source is removed only while no thread accepts on it.
  --it->accepting;
  --accepting_;
  sourceLeft_.notify_all();
  if (!turn) return true;
  // This thread runs it next, unless turns wait in line before it: then it gets a thread of its
  // own as any turn lined up does.
  const bool first = line_.empty();
  line_.push_back(turn);
  waiting_ = line_.size();
  if (!first) {
    try {
      if (CallOrMakeThread()) called_.notify_one();
    } catch (const std::system_error&) {
      // A thread that finishes its turn takes it.
    }
  }
  if (stopping_ || source->Ended() || it->accepting > 0) return true;
  // While this thread runs the turn and none waits in its place, a connection that comes calls
  // another to accept it.
  lock.unlock();
  std::weak_ptr<TNetThreadPool> pool = weak_from_this();
  const bool watched = watch && watch(source->ListeningSocket(), [pool, source] {
    if (const auto p = pool.lock()) p->ListenerReady(source);
  });
  lock.lock();
  it = FindSource(source);
  if (it == sources_.end()) return true;
  if (watched) {
    it->watched = true;
  } else if (it->accepting == 0) {
    CallForAccepting();
  }
  return true;
}

void TNetThreadPool::ListenerReady(TNetAcceptSource* source) {
  std::lock_guard<std::mutex> lock(lock_);
  const auto it = FindSource(source);
  if (it == sources_.end()) return;
  it->watched = false;
  if (it->accepting == 0 && !stopping_ && !source->Ended()) CallForAccepting();
}

std::list<TNetThreadPool::Source>::iterator TNetThreadPool::FindSource(
    const TNetAcceptSource* source) {
  return std::find_if(sources_.begin(), sources_.end(),
                      [source](const Source& s) { return s.source == source; });
}

void TNetThreadPool::CallOrMakeAccepting() {
  if (waitingForCall_ > calls_) {
    ++calls_;
    called_.notify_one();
    return;
  }
  MakeThread();
}

void TNetThreadPool::CallForAccepting() {
  try {
    CallOrMakeAccepting();
  } catch (const std::system_error&) {
    // The next thread that finishes a turn accepts.
  }
}

bool TNetThreadPool::CallOrMakeThread() {
  // At the limit, a thread that finishes its turn takes the next.
  if (maxBusy_ > 0 && busy_ + starting_ + calls_ >= maxBusy_) return false;
  if (waitingForCall_ > calls_) {
    ++calls_;
    return true;
  }
  // A thread that has just handed its connection over takes it from the line.
  if (returning_ > 0) {
    --returning_;
    return false;
  }
  MakeThread();
  return false;
}

void TNetThreadPool::MakeThread() {
  workers_.emplace_back();
  const WorkerList::iterator self = std::prev(workers_.end());
  try {
    // Started under the lock, so it finds its handle in place when it first takes the lock.
    self->thread = std::thread(&TNetThreadPool::Loop, this, self, shared_from_this());
  } catch (...) {
    workers_.erase(self);
    throw;
  }
  ++starting_;
}

// keep is held by the thread's state and released after the function: when it is the pool's
// last holder, the pool goes then, after everything this thread does with it.
void TNetThreadPool::Loop(WorkerList::iterator self,
                          [[maybe_unused]] std::shared_ptr<TNetThreadPool> keep) {
  std::unique_lock<std::mutex> lock(lock_);
  --starting_;
  bool fit = true;
  do {
    while (fit && (TakeTurn(lock, &fit) || Accept(lock))) {
    }
  } while (fit && WaitForCall(lock));
  Leave(self);
}

std::deque<TNetTurn*>::iterator TNetThreadPool::NextTurn() {
  if (maxPerPeer_ <= 0) return line_.begin();
  // The line holds at most the server's open connections: a walk of it is bounded by them.
  for (auto it = line_.begin(); it != line_.end(); ++it) {
    // An aborted connection's turn only ends it (a switch-off hands every waiting one back at
    // once): the share would make a switch-off with many connections of one peer wait in line.
    if ((*it)->Aborted()) return it;
    const auto busy = busyPerPeer_.find((*it)->Peer());
    if (busy == busyPerPeer_.end() || busy->second < maxPerPeer_) return it;
  }
  return line_.end();
}

bool TNetThreadPool::TakeTurn(std::unique_lock<std::mutex>& lock, bool* keep) {
  if (line_.empty() || (maxBusy_ > 0 && busy_ >= maxBusy_)) return false;
  const auto next = NextTurn();
  if (next == line_.end()) return false;
  TNetTurn* turn = *next;
  line_.erase(next);
  waiting_ = line_.size();
  ++busy_;
  // Copied: the turn may end its connection, and the turn be freed, before it returns.
  const std::string peer = turn->Peer();
  ++busyPerPeer_[peer];
  lock.unlock();
  *keep = turn->Run();
  lock.lock();
  --busy_;
  if (const auto it = busyPerPeer_.find(peer); it != busyPerPeer_.end() && --it->second == 0) {
    busyPerPeer_.erase(it);
  }
  // Not counted on for a turn yet: it is no longer expected. (Counted on: it takes one now.)
  if (std::exchange(tReturning, false) && returning_ > 0) --returning_;
  return true;
}

bool TNetThreadPool::WaitForCall(std::unique_lock<std::mutex>& lock) {
  // Those accepting count as kept: they wait for work as well.
  if (stopping_ || waitingForCall_ + accepting_ >= kept_) return false;
  ++waitingForCall_;
  called_.wait(lock, [this] { return calls_ > 0 || stopping_; });
  --waitingForCall_;
  // A call is for a turn lined up or a listener to accept on: it is taken even while stopping.
  if (calls_ == 0) return false;
  --calls_;
  return true;
}

void TNetThreadPool::Leave(WorkerList::iterator self) {
  if (self->thread.joinable()) ended_.push_back(std::move(self->thread));
  workers_.erase(self);
  callWaiterLeft_.notify_all();
}

void TNetThreadPool::JoinAll(std::vector<std::thread>& threads) {
  for (std::thread& thread : threads) {
    if (!thread.joinable()) continue;
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();
    } else {
      thread.join();
    }
  }
  threads.clear();
}

}  // namespace tovi::http

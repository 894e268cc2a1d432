#include "http/server/idle_connections.h"

#include "http/server/tcp_server.h"

namespace tovi::http {
namespace {

// After the readiness wait itself failed: a pause, so a lasting failure does not spin. The
// deadlines are still kept.
constexpr auto kRetryPause = std::chrono::milliseconds(50);
// The longest single wait, far beyond any deadline in use; keeps the milliseconds in an int.
constexpr auto kLongestWait = std::chrono::hours(1);

}  // namespace

TNetIdleConnections::~TNetIdleConnections() { Close(); }

void TNetIdleConnections::Open(std::size_t bound, std::size_t peerShare) {
  std::lock_guard<std::mutex> lock(lock_);
  if (open_) return;
  if (!wait_) wait_ = std::make_unique<net::ReadinessWait>();
  bound_ = bound;
  peerShare_ = peerShare;
  open_ = true;
  try {
    watcher_ = std::thread(&TNetIdleConnections::Watch, this);
  } catch (...) {
    open_ = false;
    throw;
  }
}

void TNetIdleConnections::Close() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (!open_) return;
    open_ = false;
  }
  wait_->Wake();
  if (watcher_.joinable()) watcher_.join();
  std::vector<TNetPeerThread*> all;
  {
    std::lock_guard<std::mutex> lock(lock_);
    for (const auto& [tag, waiting] : waiting_) {
      wait_->Forget(waiting.thread->Connection().Socket());
      all.push_back(waiting.thread);
    }
    waiting_.clear();
    byDeadline_.clear();
    byPeer_.clear();
    peersByCount_.clear();
    count_ = 0;
    for (const auto& [tag, listener] : listeners_) wait_->Forget(listener.socket);
    listeners_.clear();
  }
  HandBackAll(all);
}

bool TNetIdleConnections::IsOpen() const { return open_.load(); }

bool TNetIdleConnections::Add(TNetPeerThread* thread) {
  TNetTCPConnection& connection = thread->Connection();
  const Clock::time_point deadline =
      connection.HasReadDeadline() ? connection.ReadDeadline() : Clock::time_point::max();
  TNetPeerThread* over = nullptr;
  {
    std::lock_guard<std::mutex> lock(lock_);
    if (!open_) return false;
    const std::uint64_t tag = nextTag_++;
    // Watched under the lock: a report that comes at once finds the connection listed.
    if (!wait_->Watch(connection.Socket(), tag)) return false;
    const Waiting& waiting =
        waiting_.emplace(tag, Waiting{thread, deadline, thread->Peer()}).first->second;
    byDeadline_.emplace(deadline, tag);
    CountPeer(waiting, tag, true);
    const DueOrder& own = byPeer_.at(thread->Peer());
    if (peerShare_ > 0 && own.size() > peerShare_) {
      over = Take(own.begin()->second);
      wait_->Forget(over->Connection().Socket());
    }
    count_ = waiting_.size();
    if (deadline < watchUntil_) wait_->Wake();
  }
  if (over) CloseTaken(over);
  return true;
}

bool TNetIdleConnections::MakeRoomFor(const std::string& peer, std::size_t alsoHeld) {
  TNetPeerThread* thread = nullptr;
  {
    std::lock_guard<std::mutex> lock(lock_);
    bool needed = false;
    const DueOrder* from = ToCloseFor(peer, alsoHeld, &needed);
    if (!from) return !needed;
    thread = Take(from->begin()->second);
    wait_->Forget(thread->Connection().Socket());
  }
  CloseTaken(thread);
  return true;
}

void TNetIdleConnections::CloseTaken(TNetPeerThread* thread) {
  TNetTCPConnection& connection = thread->Connection();
  connection.EndConnection();
  std::string().swap(connection.InputBuffer());  // a part of a head is all it could hold
  handBack_(thread);
}

bool TNetIdleConnections::WatchListener(net::SocketHandle listening, std::function<void()> ready) {
  std::lock_guard<std::mutex> lock(lock_);
  if (!open_) return false;
  const std::uint64_t tag = nextTag_++;
  if (!wait_->Watch(listening, tag)) return false;
  listeners_.emplace(tag, Listener{listening, std::move(ready)});
  return true;
}

void TNetIdleConnections::ForgetListener(net::SocketHandle listening) {
  std::lock_guard<std::mutex> lock(lock_);
  if (!wait_) return;
  for (auto it = listeners_.begin(); it != listeners_.end();) {
    it = it->second.socket == listening ? listeners_.erase(it) : std::next(it);
  }
  wait_->Forget(listening);
}

std::size_t TNetIdleConnections::Count() const { return count_.load(); }

std::size_t TNetIdleConnections::Bound() const { return bound_.load(); }

std::size_t TNetIdleConnections::CountOf(const std::string& peer) const {
  std::lock_guard<std::mutex> lock(lock_);
  const auto it = byPeer_.find(peer);
  return it == byPeer_.end() ? 0 : it->second.size();
}

const TNetIdleConnections::DueOrder* TNetIdleConnections::ToCloseFor(const std::string& peer,
                                                                     std::size_t alsoHeld,
                                                                     bool* needed) const {
  const auto own = byPeer_.find(peer);
  *needed = true;
  if (peerShare_ > 0 && own != byPeer_.end() && own->second.size() >= peerShare_) {
    return &own->second;
  }
  if (waiting_.size() + alsoHeld < bound_) {
    *needed = false;
    return nullptr;
  }
  if (peersByCount_.empty()) return nullptr;
  return &byPeer_.at(peersByCount_.rbegin()->second);
}

void TNetIdleConnections::CountPeer(const Waiting& waiting, std::uint64_t tag, bool starts) {
  DueOrder& order = byPeer_[waiting.peer];
  if (!order.empty()) peersByCount_.erase({order.size(), waiting.peer});
  if (starts) {
    order.emplace(waiting.deadline, tag);
  } else {
    order.erase({waiting.deadline, tag});
  }
  if (order.empty()) {
    byPeer_.erase(waiting.peer);
  } else {
    peersByCount_.emplace(order.size(), waiting.peer);
  }
}

void TNetIdleConnections::Watch() {
  std::vector<std::uint64_t> ready;
  for (;;) {
    int waitMs = -1;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (!open_) return;
      const Clock::time_point now = Clock::now();
      waitMs = MsUntilFirstDue(now);
      watchUntil_ = waitMs < 0 ? Clock::time_point::max() : now + std::chrono::milliseconds(waitMs);
    }
    ready.clear();
    if (!wait_->Wait(waitMs, ready)) std::this_thread::sleep_for(kRetryPause);
    std::vector<std::function<void()>> listenersReady;
    HandBackAll(TakeReady(ready, listenersReady));
    for (const auto& listenerReady : listenersReady) listenerReady();
    HandBackAll(TakeDue());
  }
}

int TNetIdleConnections::MsUntilFirstDue(Clock::time_point now) const {
  if (byDeadline_.empty()) return -1;
  const Clock::time_point first = byDeadline_.begin()->first;
  if (first <= now) return 0;
  if (first - now > kLongestWait) return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kLongestWait).count());
  // Rounded up: a wait that ends before the deadline would only come round again at once.
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(first - now).count());
}

std::vector<TNetPeerThread*> TNetIdleConnections::TakeReady(
    const std::vector<std::uint64_t>& tags, std::vector<std::function<void()>>& listenersReady) {
  std::vector<TNetPeerThread*> taken;
  std::lock_guard<std::mutex> lock(lock_);
  for (std::uint64_t tag : tags) {
    if (TNetPeerThread* thread = Take(tag)) {
      taken.push_back(thread);
    } else if (const auto it = listeners_.find(tag); it != listeners_.end()) {
      listenersReady.push_back(std::move(it->second.ready));
      listeners_.erase(it);
    }
  }
  return taken;
}

std::vector<TNetPeerThread*> TNetIdleConnections::TakeDue() {
  std::vector<TNetPeerThread*> taken;
  std::lock_guard<std::mutex> lock(lock_);
  const Clock::time_point now = Clock::now();
  while (!byDeadline_.empty() && byDeadline_.begin()->first <= now) {
    TNetPeerThread* thread = Take(byDeadline_.begin()->second);
    wait_->Forget(thread->Connection().Socket());
    taken.push_back(thread);
  }
  return taken;
}

TNetPeerThread* TNetIdleConnections::Take(std::uint64_t tag) {
  const auto it = waiting_.find(tag);
  if (it == waiting_.end()) return nullptr;
  TNetPeerThread* thread = it->second.thread;
  byDeadline_.erase({it->second.deadline, tag});
  CountPeer(it->second, tag, false);
  waiting_.erase(it);
  count_ = waiting_.size();
  return thread;
}

void TNetIdleConnections::HandBackAll(const std::vector<TNetPeerThread*>& threads) {
  for (TNetPeerThread* thread : threads) handBack_(thread);
}

}  // namespace tovi::http

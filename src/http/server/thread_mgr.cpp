#include "http/server/thread_mgr.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "http/exceptions.h"
#include "http/server/idle_connections.h"
#include "http/server/tcp_server.h"
#include "http/server/thread_pool.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace tovi::http {
namespace {

// Handles left to the rest of the process (listeners, the readiness wait, settings and log
// files) when the handle limit lowers the bounds of connections.
constexpr std::size_t kOtherHandles = 64;
// The fewest handles beyond those that serving needs: one served connection (its socket and a
// file) and one waiting for its request.
constexpr std::size_t kFewestServingHandles = 3;

// Input that ended connections let go of since memory was last handed back to the system.
std::atomic<std::size_t> droppedInputBytes{0};
constexpr std::size_t kReturnMemoryAfterBytes = 4 * 1024 * 1024;

// An ended connection is freed only at the next accept (Reap), which may not come for days:
// what it read goes at once. A head that never ended holds up to 64 KiB and thousands may wait,
// and the C library keeps what is freed, so once enough has gone it is asked to give it back.
void DropInput(TNetPeerThread& thread) {
  std::string& in = thread.Connection().InputBuffer();
  const std::size_t bytes = in.capacity();
  std::string().swap(in);
  if (droppedInputBytes.fetch_add(bytes) + bytes < kReturnMemoryAfterBytes) return;
  if (droppedInputBytes.exchange(0) >= kReturnMemoryAfterBytes) process::ReturnFreeMemory();
}

}  // namespace

TNetHandleShares HandleSharesFor(const TNetServerLimits& limits, std::size_t handles) {
  if (handles < kOtherHandles + kFewestServingHandles) {
    throw ENetSocketError(
        net::kErrTooManyFiles,
        "Too few open-file handles to serve: the system allows this program " +
            std::to_string(handles) + ", the server needs at least " +
            std::to_string(kOtherHandles + kFewestServingHandles) + ".");
  }
  // A served connection may hold its socket and a file, one waiting its socket: a third of the
  // room goes to those served (as many as the limit asks, where it allows), the rest waits.
  const std::size_t room = handles - kOtherHandles;
  const std::size_t servedAsked =
      limits.maxServedConnections > 0 ? static_cast<std::size_t>(limits.maxServedConnections)
                                      : room / 3;
  TNetHandleShares shares;
  shares.served = std::max<std::size_t>(std::min(servedAsked, room / 3), 1);
  shares.idle = std::max<std::size_t>(
      std::min(static_cast<std::size_t>(std::max(limits.maxIdleConnections, 0)),
               room - 2 * shares.served),
      limits.maxIdleConnections > 0 ? 1 : 0);
  // A lowered bound lowers the share in proportion: a peer keeps the same part of the room.
  if (limits.maxIdlePerPeer > 0 && limits.maxIdleConnections > 0) {
    const std::size_t share = std::min(static_cast<std::size_t>(limits.maxIdlePerPeer),
                                       static_cast<std::size_t>(limits.maxIdleConnections));
    shares.idlePerPeer = std::max<std::size_t>(
        shares.idle * share / static_cast<std::size_t>(limits.maxIdleConnections), 1);
  }
  return shares;
}

TNetThreadMgr::TNetThreadMgr() : TNetThreadMgr(false) {}

TNetThreadMgr::TNetThreadMgr(bool keepsThreads)
    : keepsThreads_(keepsThreads), pool_(std::make_shared<TNetThreadPool>()) {
  if (keepsThreads_) {
    idle_ = std::make_unique<TNetIdleConnections>(
        [pool = pool_](TNetPeerThread* thread) { pool->RunWhenPossible(thread); });
    TNetIdleConnections* idle = idle_.get();
    pool_->SetListenerWatch(
        [idle](net::SocketHandle s, std::function<void()> ready) {
          return idle->WatchListener(s, std::move(ready));
        },
        [idle](net::SocketHandle s) { idle->ForgetListener(s); });
  }
}

TNetThreadMgr::~TNetThreadMgr() {
  // A thread that outlives the manager (in a turn that outlasted a switch-off) keeps the pool.
  pool_->SetListenerWatch({}, {});
  if (idle_) idle_->Close();
  pool_->Stop();
  Reap();
}

TNetPeerThread* TNetThreadMgr::GetThread(TNetTCPServer& server,
                                         std::unique_ptr<TNetTCPServerConnection> connection) {
  auto thread = std::make_unique<TNetPeerThread>(server, std::move(connection));
  TNetPeerThread* raw = thread.get();
  std::lock_guard<std::mutex> lock(lock_);
  active_.emplace(raw, std::move(thread));
  return raw;
}

void TNetThreadMgr::ReleaseThread(TNetPeerThread* thread) {
  DropInput(*thread);
  std::unique_ptr<TNetPeerThread> owned;
  {
    std::lock_guard<std::mutex> lock(lock_);
    const auto it = active_.find(thread);
    if (it == active_.end()) return;
    owned = std::move(it->second);
    active_.erase(it);
    if (owned->HasRun()) {
      finished_.push_back(std::move(owned));
      return;
    }
  }
}

std::size_t TNetThreadMgr::ActiveCount() const {
  std::lock_guard<std::mutex> lock(lock_);
  return active_.size();
}

std::size_t TNetThreadMgr::WaitingIdleCount() const { return idle_ ? idle_->Count() : 0; }

std::size_t TNetThreadMgr::KeptThreadCount() const { return pool_->Kept(); }

void TNetThreadMgr::Reap() {
  std::vector<std::unique_ptr<TNetPeerThread>> done;
  {
    std::lock_guard<std::mutex> lock(lock_);
    // One still on the server's list is on its way out: its address must not be reused before.
    auto unlisted = std::partition(finished_.begin(), finished_.end(),
                                   [](const auto& p) { return p->Listed(); });
    done.assign(std::make_move_iterator(unlisted), std::make_move_iterator(finished_.end()));
    finished_.erase(unlisted, finished_.end());
  }
  done.clear();
  pool_->Reap();
}

void TNetThreadMgr::Open(TNetTCPServer& server) {
  const TNetServerLimits& limits = server.Limits();
  const TNetHandleShares shares = HandleSharesFor(limits, net::OpenHandleLimit());
  pool_->Open(keepsThreads_ ? limits.keptThreads : 0,
              keepsThreads_ ? static_cast<int>(shares.served) : 0,
              keepsThreads_ ? std::max(limits.maxServedPerPeer, 0) : 0);
  if (idle_) idle_->Open(shares.idle, shares.idlePerPeer);
}

void TNetThreadMgr::StopWaitingIdle() {
  if (idle_) idle_->Close();
}

void TNetThreadMgr::EndThreads() { pool_->Stop(); }

void TNetThreadMgr::Start(TNetPeerThread* thread) { pool_->Run(thread); }

bool TNetThreadMgr::AcceptsOnPool() const {
  // Where a connection wakes every waiter, one pool thread at a time may wait in accept; while it
  // serves what it took, the listening socket joins the readiness wait of every idle connection,
  // and each new connection then costs a hand-over through that wait (a poll of all of them) and
  // a call to another thread. With many connections waiting idle that made accepting several
  // times slower than a listener thread of its own that hands connections to the pool.
  return keepsThreads_ && net::AcceptWakesOne();
}

void TNetThreadMgr::AddSource(TNetAcceptSource* source) { pool_->AddSource(source); }

void TNetThreadMgr::RemoveSource(TNetAcceptSource* source) { pool_->RemoveSource(source); }

bool TNetThreadMgr::WaitsIdle() const { return idle_ && idle_->IsOpen(); }

bool TNetThreadMgr::HandOverIdle(TNetPeerThread* thread) {
  if (!idle_) return false;
  // Before the hand-over: bytes may come, and the connection be lined up again, at once.
  pool_->ExpectReturn();
  if (idle_->Add(thread)) return true;
  pool_->CancelReturn();
  return false;
}

bool TNetThreadMgr::MakeRoomForIdle(const std::string& peer) {
  if (!WaitsIdle()) return true;
  // Those waiting in line for a thread hold their sockets too.
  return idle_->MakeRoomFor(peer, pool_->Waiting());
}

}  // namespace tovi::http

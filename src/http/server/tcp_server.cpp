#include "http/server/tcp_server.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "http/exceptions.h"

namespace tovi::http {
namespace {

constexpr int kTerminatePollMs = 250;

}  // namespace

// ---- reply text ----

std::string TNetReplyText::FormattedReply() const {
  if (IsEmpty()) return {};
  std::string out;
  if (code_ < 1) {
    for (const std::string& line : lines_) out += line + "\r\n";
    return out;
  }
  std::string code = std::to_string(code_);
  if (lines_.empty()) return code + "\r\n";
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    out += code + (i + 1 < lines_.size() ? "-" : " ") + lines_[i] + "\r\n";
  }
  return out;
}

// ---- server ----

TNetTCPServer::TNetTCPServer() { net::Startup(); }

TNetTCPServer::~TNetTCPServer() {
  try {
    SetActive(false);
  } catch (...) {
    // Only a TerminateWaitTime below one poll: no peer thread holds the server any more.
  }
}

void TNetTCPServer::SetActive(bool active) {
  if (active == active_) return;
  if (active) {
    Activate();
  } else {
    Deactivate();
  }
}

std::size_t TNetTCPServer::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(liveLock_);
  return live_.size();
}

bool TNetTCPServer::DoExecute(TNetPeerThread& thread) {
  if (!OnExecute) return false;
  OnExecute(thread);
  return true;
}

void TNetTCPServer::ReportException(TNetPeerThread& thread, const std::exception& e) {
  if (OnException) OnException(thread, e);
}

void TNetTCPServer::Activate() {
  if (weak_from_this().expired()) {
    throw std::logic_error("a server is switched on only while owned by a std::shared_ptr");
  }
  if (!net::Startup()) throw ENetWinsockInitError();
  BeforeActivate();
  if (bindings_.Count() == 0) bindings_.Add();
  if (!threadMgr_) {
    ownThreadMgr_ = std::make_unique<TNetThreadMgrDefault>();
    threadMgr_ = ownThreadMgr_.get();
  }
  if (!ioHandler_) {
    ownIOHandler_ = std::make_unique<TNetServerIOHandlerSocket>();
    ioHandler_ = ownIOHandler_.get();
  }
  selfWhileListening_ = shared_from_this();
  try {
    threadMgr_->Open(*this);
    for (std::size_t i = 0; i < bindings_.Count(); ++i) OpenListener(bindings_[i]);
  } catch (...) {
    // Listeners of earlier bindings do not keep serving while the server reports inactive.
    StopListeners();
    selfWhileListening_.reset();
    threadMgr_->StopWaitingIdle();
    threadMgr_->EndThreads();
    ReleaseThreadMgr();
    throw;
  }
  active_ = true;
}

void TNetTCPServer::OpenListener(TNetSocketHandle& binding) {
  binding.AllocateSocket();
  try {
    binding.Bind(reuseSocket_ == TNetReuseSocket::rsTrue);
    binding.Listen(listenQueue_);
  } catch (...) {
    binding.CloseSocket();
    throw;
  }
  auto listener = std::make_unique<TNetListenerThread>(*this, binding);
  TNetListenerThread* raw = listener.get();
  std::lock_guard<std::mutex> lock(listenersLock_);
  listeners_.push_back(std::move(listener));
  if (threadMgr_->AcceptsOnPool()) {
    threadMgr_->AddSource(raw);
  } else {
    raw->StartThread();
  }
}

void TNetTCPServer::StopListeners() {
  std::vector<std::unique_ptr<TNetListenerThread>> listeners;
  {
    std::lock_guard<std::mutex> lock(listenersLock_);
    listeners.swap(listeners_);
  }
  for (auto& listener : listeners) listener->Stop();
  for (auto& listener : listeners) {
    // The manager is there while a listener is: it is let go only after this. (A source it
    // never had is not waited for.)
    if (threadMgr_) threadMgr_->RemoveSource(listener.get());
    listener->Close();
  }
}

void TNetTCPServer::AbortConnections() {
  std::lock_guard<std::mutex> lock(liveLock_);
  for (TNetPeerThread* thread : live_) thread->Connection().Abort();
}

bool TNetTCPServer::WaitForConnections(int polls) {
  for (int i = 0; i < polls; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kTerminatePollMs));
    if (ConnectionCount() == 0) return true;
  }
  return false;
}

void TNetTCPServer::ReleaseThreadMgr() {
  if (ConnectionCount() == 0 && ownThreadMgr_) {
    ownThreadMgr_.reset();  // joins the threads that have ended
    threadMgr_ = nullptr;
  } else if (threadMgr_) {
    threadMgr_->Reap();
  }
}

void TNetTCPServer::Deactivate() {
  BeforeDeactivate();
  StopListeners();
  // The caller holds a reference of its own: this is never the last one.
  selfWhileListening_.reset();
  AbortConnections();
  // A switch-off that timed out before may have freed its own manager already.
  if (threadMgr_) threadMgr_->StopWaitingIdle();  // each gets a thread to end on
  const bool ended = WaitForConnections(terminateWaitTimeMs_ / kTerminatePollMs);
  if (threadMgr_) threadMgr_->EndThreads();
  ReleaseThreadMgr();
  if (!ended) throw ENetTerminateThreadTimeout();
  active_ = false;
}

TNetPeerThread* TNetTCPServer::AdmitAccepted(
    std::unique_ptr<TNetTCPServerConnection>& connection) {
  connection->SetSendTimeout(limits_.sendStallTimeoutMs);
  // It holds the server from here (selfWhileListening_ holds it meanwhile).
  TNetPeerThread* thread = threadMgr_->GetThread(*this, std::move(connection));
  if (!Admit(thread)) {
    Refuse(thread);
    return nullptr;
  }
  return thread;
}

void TNetTCPServer::RunFirstTurn(TNetPeerThread* thread) {
  TNetThreadMgr& mgr = *threadMgr_;
  try {
    mgr.Start(thread);
  } catch (...) {
    // No thread to be had (the system is out of them): this connection is closed unserved.
    RemoveLive(thread);
    thread->Connection().EndConnection();
    mgr.ReleaseThread(thread);
    throw;
  }
}

bool TNetTCPServer::Admit(TNetPeerThread* thread) {
  {
    std::lock_guard<std::mutex> lock(liveLock_);
    const std::size_t limit = ConnectionLimit();
    if (limit > 0 && live_.size() >= limit) return false;
    live_.push_back(thread);
    thread->SetListed(true);
  }
  if (threadMgr_->MakeRoomForIdle(thread->Peer())) return true;
  RemoveLive(thread);
  return false;
}

std::size_t TNetTCPServer::ConnectionLimit() const {
  // Where connections wait for a thread, the served cap does not refuse any.
  int limit = threadMgr_->WaitsIdle() ? 0 : limits_.maxServedConnections;
  if (maxConnections_ > 0 && (limit <= 0 || maxConnections_ < limit)) limit = maxConnections_;
  return limit > 0 ? static_cast<std::size_t>(limit) : 0;
}

void TNetTCPServer::Refuse(TNetPeerThread* thread) {
  try {
    if (!maxConnectionReply_.IsEmpty()) {
      thread->Connection().Write(maxConnectionReply_.FormattedReply());
    }
  } catch (const ENetException&) {
    // The refused peer may be gone already; it is closed either way.
  }
  thread->Connection().EndConnection();
  threadMgr_->ReleaseThread(thread);
}

void TNetTCPServer::RemoveLive(TNetPeerThread* thread) {
  std::lock_guard<std::mutex> lock(liveLock_);
  live_.erase(std::remove(live_.begin(), live_.end(), thread), live_.end());
  thread->SetListed(false);
}

}  // namespace tovi::http

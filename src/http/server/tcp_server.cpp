#include "http/server/tcp_server.h"

#include <algorithm>
#include <cstdlib>
#include <cxxabi.h>
#include <stdexcept>
#include <typeinfo>
#include <utility>

#include "http/coding.h"
#include "http/exceptions.h"

namespace tovi::http {
namespace {

// Class name without namespaces, as a user of the engine knows it.
std::string ClassNameOf(const std::exception& e) {
  const char* mangled = typeid(e).name();
  int status = 0;
  char* plain = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
  std::string name = status == 0 && plain ? plain : mangled;
  std::free(plain);
  std::size_t colon = name.rfind("::");
  return colon == std::string::npos ? name : name.substr(colon + 2);
}

constexpr int kListenPollMs = 100;
constexpr int kTerminatePollMs = 250;
// Out of handles, accept fails at once for as long as that lasts: the listener pauses instead,
// first this long, doubling while it lasts up to the longest pause (the delay before it takes
// connections again once handles are free).
constexpr int kOutOfHandlesFirstPauseMs = 10;
constexpr int kOutOfHandlesLongestPauseMs = 1000;

bool OutOfHandles(int code) {
  return code == net::kErrTooManyFiles || code == net::kErrNoBuffers;
}

// Waits pauseMs in steps of kListenPollMs; false when stopped() turned true meanwhile.
bool PauseUnlessStopped(int pauseMs, const std::function<bool()>& stopped) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(pauseMs);
  while (!stopped()) {
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        left, std::chrono::milliseconds(kListenPollMs)));
  }
  return false;
}

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

// ---- bindings ----

void TNetSocketHandle::AllocateSocket() {
  CloseSocket();
  handle_ = net::OpenStream();
  if (handle_ == net::kInvalidSocket) throw ENetInvalidSocket();
}

void TNetSocketHandle::Bind(bool reuseAddress) {
  net::Endpoint local;
  if (!ip_.empty()) DottedToAddress(ip_, local.address);
  local.port = static_cast<std::uint16_t>(port_);
  if (reuseAddress) {
    net::SetReuseAddress(handle_);
  } else {
    net::AllowRebind(handle_);
  }
  if (net::Bind(handle_, local) != 0) {
    int code = net::LastError();
    if (code == net::kErrAddressInUse) throw ENetCouldNotBindSocket();
    throw ENetSocketError(code);
  }
  net::Endpoint bound;
  if (net::LocalEndpoint(handle_, &bound) == 0) {
    ip_ = AddressToDotted(bound.address);
    port_ = bound.port;
  }
}

void TNetSocketHandle::Listen(int backlog) {
  if (net::Listen(handle_, backlog) != 0) RaiseLastSocketError();
}

void TNetSocketHandle::Adopt(net::SocketHandle handle, const TNetSocketHandle& listening) {
  handle_ = handle;
  net::Endpoint e;
  if (!listening.ip_.empty() && listening.ip_ != "0.0.0.0") {
    ip_ = listening.ip_;
    port_ = listening.port_;
  } else if (net::LocalEndpoint(handle, &e) == 0) {
    ip_ = AddressToDotted(e.address);
    port_ = e.port;
  }
  if (net::PeerEndpoint(handle, &e) == 0) {
    peerIP_ = AddressToDotted(e.address);
    peerPort_ = e.port;
  }
}

void TNetSocketHandle::CloseSocket() {
  if (handle_ != net::kInvalidSocket) {
    net::Close(handle_);
    handle_ = net::kInvalidSocket;
  }
}

net::SocketHandle TNetSocketHandle::Release() {
  net::SocketHandle h = handle_;
  handle_ = net::kInvalidSocket;
  return h;
}

TNetSocketHandle& TNetSocketHandles::Add() {
  items_.push_back(std::make_unique<TNetSocketHandle>());
  items_.back()->SetPort(defaultPort_);
  return *items_.back();
}

// ---- peer thread ----

TNetPeerThread::TNetPeerThread(TNetTCPServer& server,
                               std::unique_ptr<TNetTCPServerConnection> connection)
    : server_(server),
      connection_(std::move(connection)),
      peer_(connection_ ? connection_->Binding().PeerIP() : std::string()) {}

bool TNetPeerThread::CanWaitIdle() const {
  // A connection run by its owner's own hand (no manager: the server was never switched on) has
  // nowhere to wait without its thread.
  return !idleRefused_ && server_.threadMgr_ != nullptr && server_.threadMgr_->WaitsIdle();
}

bool TNetPeerThread::Run() {
  ran_ = true;
  TNetThreadMgr& mgr = *server_.threadMgr_;
  while (Turn()) {
    // Handed over: from here on another system thread may run this connection.
    if (mgr.HandOverIdle(this)) return true;
    // Not taken (switching off, or the system would not watch the socket): from now on this
    // connection waits on its thread.
    idleRefused_ = true;
  }
  const bool fit = !foreignException_;
  Finish();
  return fit;
}

bool TNetPeerThread::Turn() {
  if (turns_ < 2) ++turns_;
  try {
    if (!begun_) Begin();
    while (!Stopped()) {
      ExecuteStep();
      if (std::exchange(waitIdle_, false)) return true;
      if (!connection_->Connected()) Stop();
    }
  } catch (const std::exception& e) {
    if (begun_) {
      try {
        server_.ReportException(*this, e);
      } catch (...) {
        // A failing event must not take the system thread down; the connection ends anyway.
      }
    }
    exceptionClass_ = ClassNameOf(e);
    exceptionMessage_ = e.what();
    foreignException_ = dynamic_cast<const ENetException*>(&e) == nullptr;
  } catch (...) {
    exceptionClass_ = "unknown";
    foreignException_ = true;
  }
  return false;
}

void TNetPeerThread::Begin() {
  TNetTCPServer& server = server_;
  if (!connection_ || connection_->Socket() == net::kInvalidSocket) throw ENetTCPServerError();
  if (!server.greeting_.IsEmpty()) connection_->Write(server.greeting_.FormattedReply());
  if (server.OnConnect) server.OnConnect(*this);
  if (!connection_->Connected()) Stop();
  begun_ = true;
}

void TNetPeerThread::ExecuteStep() {
  try {
    if (!server_.DoExecute(*this)) throw ENetNoExecuteSpecified();
  } catch (const ENetSocketError& e) {
    server_.ReportException(*this, e);
    if (e.LastError() == net::kErrConnectionAborted ||
        e.LastError() == net::kErrConnectionReset) {
      connection_->EndConnection();
    }
  } catch (const ENetClosedSocket& e) {
    server_.ReportException(*this, e);
  } catch (const ENetConnClosedGracefully& e) {
    server_.ReportException(*this, e);
  }
}

void TNetPeerThread::Finish() {
  // Declared first, so released last: when this is the server's last holder, the server (and
  // with it this object) goes here, after everything else this thread does.
  const std::shared_ptr<TNetTCPServer> keep = std::move(keepAlive_);
  TNetTCPServer& server = server_;
  Stop();
  if (server.OnDisconnect) {
    try {
      server.OnDisconnect(*this);
    } catch (...) {
      // The connection ends either way; nothing is left to report to.
    }
  }
  // Release first, leave the live list last: once the list is empty the server may free the
  // thread manager, and this thread must not touch it any more.
  connection_->EndConnection();
  server.threadMgr_->ReleaseThread(this);
  server.RemoveLive(this);
}

// ---- accepting ----

net::SocketHandle TNetServerIOHandlerSocket::Accept(TNetSocketHandle& listening,
                                                    const std::function<bool()>& stopped) {
  int pauseMs = 0;
  for (;;) {
    if (stopped()) return net::kInvalidSocket;
    // A wait of its own (not a readiness wait and then an accept): where several threads wait
    // on one listener, a connection wakes one of them.
    net::SocketHandle accepted = net::AcceptWithin(listening.Handle(), nullptr, kListenPollMs);
    if (accepted != net::kInvalidSocket) return accepted;
    int code = net::LastError();
    if (code == net::kErrTimedOut) continue;
    if (code == net::kErrInterrupted || code == net::kErrNotSocket ||
        code == net::kErrBadFile) {
      return net::kInvalidSocket;
    }
    if (!OutOfHandles(code)) throw ENetSocketError(code);
    pauseMs = std::min(pauseMs == 0 ? kOutOfHandlesFirstPauseMs : 2 * pauseMs,
                       kOutOfHandlesLongestPauseMs);
    if (!PauseUnlessStopped(pauseMs, stopped)) return net::kInvalidSocket;
  }
}

// ---- listener ----

TNetPeerThread* TNetListenerThread::AcceptNext() {
  if (Stopped()) return nullptr;
  auto connection = std::make_unique<TNetTCPServerConnection>();
  try {
    if (server_.threadMgr_) server_.threadMgr_->Reap();
    net::SocketHandle accepted =
        server_.ioHandler_->Accept(binding_, [this] { return Stopped(); });
    if (accepted == net::kInvalidSocket) {
      stopped_ = true;  // no connection: accepting on this binding ends
      return nullptr;
    }
    connection->Attach(accepted);
    connection->Binding().Adopt(accepted, binding_);
    return server_.Admitted(connection);
  } catch (const std::exception& e) {
    if (server_.OnListenException) {
      try {
        server_.OnListenException(*this, e);
      } catch (...) {
        // A failing event must not end the listener.
      }
    }
  }
  return nullptr;
}

void TNetListenerThread::Run() {
  while (!Stopped()) {
    TNetPeerThread* thread = AcceptNext();
    if (!thread) continue;
    try {
      server_.Start(thread);
    } catch (const std::exception& e) {
      if (server_.OnListenException) {
        try {
          server_.OnListenException(*this, e);
        } catch (...) {
          // A failing event must not end the listener.
        }
      }
    }
  }
  binding_.CloseSocket();
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
    raw->pooled_ = true;
    threadMgr_->AddSource(raw);
  } else {
    raw->thread_ = std::thread(&TNetListenerThread::Run, raw);
  }
}

void TNetTCPServer::StopListeners() {
  std::vector<std::unique_ptr<TNetListenerThread>> listeners;
  {
    std::lock_guard<std::mutex> lock(listenersLock_);
    listeners.swap(listeners_);
  }
  for (auto& listener : listeners) listener->stopped_ = true;
  for (auto& listener : listeners) {
    // The manager is there while a listener is: it is let go only after this.
    if (listener->pooled_ && threadMgr_) threadMgr_->RemoveSource(listener.get());
    if (listener->thread_.joinable()) listener->thread_.join();
    listener->binding_.CloseSocket();
  }
}

void TNetTCPServer::AbortConnections() {
  std::lock_guard<std::mutex> lock(liveLock_);
  for (TNetPeerThread* thread : live_) thread->connection_->Abort();
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

TNetPeerThread* TNetTCPServer::Admitted(std::unique_ptr<TNetTCPServerConnection>& connection) {
  std::shared_ptr<TNetTCPServer> keep = shared_from_this();  // selfWhileListening_ holds one
  connection->SetSendTimeout(limits_.sendStallTimeoutMs);
  TNetPeerThread* thread = threadMgr_->GetThread(*this, std::move(connection));
  thread->keepAlive_ = std::move(keep);
  if (!Admit(thread)) {
    Refuse(thread);
    return nullptr;
  }
  return thread;
}

void TNetTCPServer::Start(TNetPeerThread* thread) {
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
    thread->listed_ = true;
  }
  if (threadMgr_->MakeRoomForIdle()) return true;
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
  thread->listed_ = false;
}

}  // namespace tovi::http

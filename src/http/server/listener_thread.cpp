#include "http/server/listener_thread.h"

#include <exception>
#include <memory>

#include "http/server/tcp_server.h"
#include "http/server/thread_mgr.h"

namespace tovi::http {

TNetPeerThread* TNetListenerThread::AcceptNext() {
  if (Stopped()) return nullptr;
  auto connection = std::make_unique<TNetTCPServerConnection>();
  try {
    if (server_.ThreadMgr()) server_.ThreadMgr()->Reap();
    net::Endpoint peer;
    net::SocketHandle accepted =
        server_.IOHandler()->Accept(binding_, [this] { return Stopped(); }, &peer);
    if (accepted == net::kInvalidSocket) {
      stopped_ = true;  // no connection: accepting on this binding ends
      return nullptr;
    }
    connection->Attach(accepted);
    connection->Binding().Adopt(accepted, binding_, peer);
    return server_.AdmitAccepted(connection);
  } catch (const std::exception& e) {
    ReportListenException(e);
  }
  return nullptr;
}

void TNetListenerThread::StartThread() { thread_ = std::thread(&TNetListenerThread::Run, this); }

void TNetListenerThread::Stop() {
  std::lock_guard<std::mutex> lock(closing_);
  stopped_ = true;
  binding_.StopAccepting();
}

void TNetListenerThread::Close() {
  if (thread_.joinable()) thread_.join();
  binding_.CloseSocket();
}

void TNetListenerThread::Run() {
  while (!Stopped()) {
    TNetPeerThread* thread = AcceptNext();
    if (!thread) continue;
    try {
      server_.RunFirstTurn(thread);
    } catch (const std::exception& e) {
      ReportListenException(e);
    }
  }
  std::lock_guard<std::mutex> lock(closing_);
  binding_.CloseSocket();
}

void TNetListenerThread::ReportListenException(const std::exception& e) {
  if (!server_.OnListenException) return;
  try {
    server_.OnListenException(*this, e);
  } catch (...) {
    // A failing event must not end the listener.
  }
}

}  // namespace tovi::http

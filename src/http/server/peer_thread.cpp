#include "http/server/peer_thread.h"

#include <cstdlib>
#include <cxxabi.h>
#include <typeinfo>
#include <utility>

#include "http/exceptions.h"
#include "http/server/tcp_server.h"
#include "http/server/thread_mgr.h"

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

}  // namespace

TNetPeerThread::TNetPeerThread(TNetTCPServer& server,
                               std::unique_ptr<TNetTCPServerConnection> connection)
    : server_(server),
      serverHeld_(server.weak_from_this().lock()),
      connection_(std::move(connection)),
      peer_(connection_ ? connection_->Binding().PeerIP() : std::string()) {}

bool TNetPeerThread::CanWaitIdle() const {
  // A connection run by its owner's own hand (no manager: the server was never switched on) has
  // nowhere to wait without its thread.
  const TNetThreadMgr* mgr = server_.ThreadMgr();
  return !idleRefused_ && mgr != nullptr && mgr->WaitsIdle();
}

bool TNetPeerThread::Run() {
  ran_ = true;
  TNetThreadMgr& mgr = *server_.ThreadMgr();
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
  if (!server.Greeting().IsEmpty()) connection_->Write(server.Greeting().FormattedReply());
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
  const std::shared_ptr<TNetTCPServer> keep = std::move(serverHeld_);
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
  server.ThreadMgr()->ReleaseThread(this);
  server.RemoveLive(this);
}

}  // namespace tovi::http

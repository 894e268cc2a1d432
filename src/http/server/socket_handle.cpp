#include "http/server/socket_handle.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

#include "http/coding.h"
#include "http/exceptions.h"

namespace tovi::http {
namespace {

// A stop wakes accept waits itself (StopAccepting); this only bounds one wait should a wake be
// missed, and costs an idle listener a wake-up this often.
constexpr int kListenWaitMs = 10 * 1000;
// How soon a pause for handles notices stopped().
constexpr int kPauseStepMs = 100;
// Out of handles, accept fails at once for as long as that lasts: the listener pauses instead,
// first this long, doubling while it lasts up to the longest pause (the delay before it takes
// connections again once handles are free).
constexpr int kOutOfHandlesFirstPauseMs = 10;
constexpr int kOutOfHandlesLongestPauseMs = 1000;

bool OutOfHandles(int code) {
  return code == net::kErrTooManyFiles || code == net::kErrNoBuffers;
}

// Waits pauseMs in steps of kPauseStepMs; false when stopped() turned true meanwhile.
bool PauseUnlessStopped(int pauseMs, const std::function<bool()>& stopped) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(pauseMs);
  while (!stopped()) {
    const auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return true;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        left, std::chrono::milliseconds(kPauseStepMs)));
  }
  return false;
}

}  // namespace

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
  acceptWaits_ = net::AcceptWaits::Open(handle_, kListenWaitMs);
  if (!acceptWaits_) RaiseLastSocketError();
}

void TNetSocketHandle::StopAccepting() {
  if (acceptWaits_) acceptWaits_->Stop();
}

void TNetSocketHandle::Adopt(net::SocketHandle handle, const TNetSocketHandle& listening,
                             const net::Endpoint& peer) {
  handle_ = handle;
  net::Endpoint e;
  if (!listening.ip_.empty() && listening.ip_ != "0.0.0.0") {
    ip_ = listening.ip_;
    port_ = listening.port_;
  } else if (net::LocalEndpoint(handle, &e) == 0) {
    ip_ = AddressToDotted(e.address);
    port_ = e.port;
  }
  // The accept's own report saves a call per connection.
  if (peer.port != 0) {
    peerIP_ = AddressToDotted(peer.address);
    peerPort_ = peer.port;
  } else if (net::PeerEndpoint(handle, &e) == 0) {
    peerIP_ = AddressToDotted(e.address);
    peerPort_ = e.port;
  }
}

void TNetSocketHandle::CloseSocket() {
  acceptWaits_.reset();
  if (handle_ != net::kInvalidSocket) {
    net::Close(handle_);
    handle_ = net::kInvalidSocket;
  }
}

net::SocketHandle TNetSocketHandle::Release() {
  acceptWaits_.reset();
  net::SocketHandle h = handle_;
  handle_ = net::kInvalidSocket;
  return h;
}

TNetSocketHandle& TNetSocketHandles::Add() {
  items_.push_back(std::make_unique<TNetSocketHandle>());
  items_.back()->SetPort(defaultPort_);
  return *items_.back();
}

// ---- accepting ----

net::SocketHandle TNetServerIOHandlerSocket::Accept(TNetSocketHandle& listening,
                                                    const std::function<bool()>& stopped,
                                                    net::Endpoint* peer) {
  int pauseMs = 0;
  for (;;) {
    if (stopped()) return net::kInvalidSocket;
    // A wait of its own (not a readiness wait and then an accept): where several threads wait
    // on one listener, a connection wakes one of them.
    net::AcceptWaits* const waits = listening.AcceptWaits();
    if (!waits) return net::kInvalidSocket;
    net::SocketHandle accepted = waits->Accept(peer);
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

}  // namespace tovi::http

// The server's sockets: a TNetSocketHandle is a local endpoint to listen on (a binding) or the
// description of an accepted socket, TNetSocketHandles the server's bindings, and
// TNetServerIOHandlerSocket the accept on a listening one. A handle owns its socket until
// closed or released; nothing here starts a thread.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"

namespace tovi::http {

enum class TNetReuseSocket { rsOSDependent, rsTrue, rsFalse };

// A local endpoint to listen on, or the description of an accepted socket.
class TNetSocketHandle {
 public:
  const std::string& IP() const { return ip_; }
  void SetIP(const std::string& ip) { ip_ = ip; }  // dotted IPv4; empty: all local addresses
  int Port() const { return port_; }
  void SetPort(int port) { port_ = port; }
  int ClientPortMin() const { return clientPortMin_; }
  void SetClientPortMin(int port) { clientPortMin_ = port; }
  int ClientPortMax() const { return clientPortMax_; }
  void SetClientPortMax(int port) { clientPortMax_ = port; }
  net::SocketHandle Handle() const { return handle_; }
  bool HandleAllocated() const { return handle_ != net::kInvalidSocket; }
  const std::string& PeerIP() const { return peerIP_; }
  int PeerPort() const { return peerPort_; }

  // Used by the server: allocate, bind (address in use: ENetCouldNotBindSocket), listen, and
  // reading back the endpoints of a socket.
  void AllocateSocket();
  void Bind(bool reuseAddress);
  void Listen(int backlog);
  // While listening: the waits for its connections (nullptr otherwise). StopAccepting ends each
  // wait under way and to come at once; from any thread, until the socket is closed.
  net::AcceptWaits* AcceptWaits() const { return acceptWaits_.get(); }
  void StopAccepting();
  // An accepted socket; reads both endpoints (the local one is the listening binding's, when that
  // has an address of its own; the peer's is asked of the system only when peer, the address the
  // accept gave, has no port).
  void Adopt(net::SocketHandle handle, const TNetSocketHandle& listening,
             const net::Endpoint& peer = {});
  void CloseSocket();
  net::SocketHandle Release();           // gives up the handle without closing it

 private:
  std::string ip_;
  int port_ = 0;
  int clientPortMin_ = 0;
  int clientPortMax_ = 0;
  net::SocketHandle handle_ = net::kInvalidSocket;
  std::unique_ptr<net::AcceptWaits> acceptWaits_;
  std::string peerIP_;
  int peerPort_ = 0;
};

class TNetSocketHandles {
 public:
  explicit TNetSocketHandles(int defaultPort) : defaultPort_(defaultPort) {}
  int DefaultPort() const { return defaultPort_; }
  void SetDefaultPort(int port) { defaultPort_ = port; }
  // Appends a binding with an empty IP and Port = DefaultPort; the reference stays valid.
  TNetSocketHandle& Add();
  std::size_t Count() const { return items_.size(); }
  TNetSocketHandle& operator[](std::size_t i) { return *items_[i]; }
  void Clear() { items_.clear(); }

 private:
  int defaultPort_;
  std::vector<std::unique_ptr<TNetSocketHandle>> items_;
};

// Accepts connections on a listening binding; activation makes one when none is set.
class TNetServerIOHandlerSocket {
 public:
  virtual ~TNetServerIOHandlerSocket() = default;
  // Waits in the binding's accept waits (several threads may wait so on one socket) until a
  // connection comes; kInvalidSocket when the binding stopped accepting, stopped() turns true
  // or the socket is gone (errors 10004, 10009, 10038). With the process or the system out of
  // handles or buffers (10024, 10055) it pauses and tries again, the pause growing while it
  // lasts (see the definition), so a lasting shortage does not spin; stopped() ends the pause
  // within kPauseStepMs. Other failures raise ENetSocketError. *peer gets the connection's peer
  // address where the accept reports it (else it stays as it was).
  virtual net::SocketHandle Accept(TNetSocketHandle& listening,
                                   const std::function<bool()>& stopped, net::Endpoint* peer);
};

}  // namespace tovi::http

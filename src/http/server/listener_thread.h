// TNetListenerThread: accepting on one binding of a server until stopped. AcceptNext accepts one
// connection and has the server admit it (a TNetPeerThread, or nullptr when a limit refused it).
// With the default manager it is a system thread of its own (StartThread: accept, then start the
// connection's turn on a new thread); with the pool it has no thread: it is the accept source
// that kept threads call (each runs the connection it accepted). Failures of accepting or
// starting go to the server's OnListenException, and accepting goes on.
#pragma once
#include <atomic>
#include <mutex>
#include <thread>

#include "http/server/peer_thread.h"
#include "http/server/socket_handle.h"
#include "http/server/thread_pool.h"

namespace tovi::http {

class TNetTCPServer;

class TNetListenerThread : public TNetAcceptSource {
 public:
  TNetListenerThread(TNetTCPServer& server, TNetSocketHandle& binding)
      : server_(server), binding_(binding) {}
  TNetSocketHandle& Binding() { return binding_; }
  TNetTCPServer& Server() { return server_; }
  bool Stopped() const { return stopped_.load(); }

  TNetPeerThread* AcceptNext() override;
  bool Ended() const override { return Stopped(); }
  net::SocketHandle ListeningSocket() const override { return binding_.Handle(); }

  // Accepts on a system thread of its own until stopped (where the manager's threads do not).
  void StartThread();
  // Accepting ends: an accept under way gives up at once.
  void Stop();
  // After Stop (and once no pool thread accepts on it): waits for its own thread, if it has one,
  // and closes the listening socket.
  void Close();

 private:
  void Run();
  void ReportListenException(const std::exception& e);

  TNetTCPServer& server_;
  TNetSocketHandle& binding_;
  std::thread thread_;
  std::atomic<bool> stopped_{false};
  // Stop wakes the binding's waits while its own thread may be closing the socket.
  std::mutex closing_;
};

}  // namespace tovi::http

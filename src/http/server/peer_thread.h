// TNetPeerThread: one accepted connection's state, run in turns. Not a system thread: it owns
// the connection (TNetTCPServerConnection) and its manager (thread_mgr.h) runs it in turns on
// system threads of its pool (a kept pool thread, or a new one); while the connection waits
// idle, no thread runs it. It is handed to every connection event and to handlers. A turn, from
// the outside in: Run (one turn, and the hand-over to wait idle when its step asks for it) calls
// Turn (Begin on the first turn, then ExecuteStep until the connection ends or asks to wait
// idle; an exception ends the connection and is recorded), which calls ExecuteStep (one call of
// the server's DoExecute, socket failures reported), which for the HTTP server is its request
// loop (http_server.h). It keeps its server alive from its making until its connection has
// ended (tcp_server.h says why).
#pragma once
#include <atomic>
#include <memory>
#include <string>

#include "http/connection.h"
#include "http/server/request_scan.h"
#include "http/server/socket_handle.h"
#include "http/server/thread_pool.h"

namespace tovi::http {

class TNetTCPServer;

// The connection a TNetPeerThread owns: the socket with its buffered reads and bounded writes
// (TNetTCPConnection); Binding() describes its socket (peer address and port). Request() keeps
// what the HTTP server's request loop knows of the request arriving on it, from one turn to the
// next (request_scan.h).
class TNetTCPServerConnection : public TNetTCPConnection {
 public:
  TNetSocketHandle& Binding() { return binding_; }
  TNetRequestProgress& Request() { return request_; }

 private:
  TNetSocketHandle binding_;
  TNetRequestProgress request_;
};

class TNetPeerThread : public TNetTurn {
 public:
  TNetPeerThread(TNetTCPServer& server, std::unique_ptr<TNetTCPServerConnection> connection);
  TNetPeerThread(const TNetPeerThread&) = delete;
  TNetPeerThread& operator=(const TNetPeerThread&) = delete;

  TNetTCPServerConnection& Connection() { return *connection_; }
  TNetTCPServer& Server() { return server_; }
  // The peer's address as accepted (its turns count against maxServedPerPeer).
  const std::string& Peer() const override { return peer_; }
  bool Aborted() const override { return connection_->Aborted(); }
  bool Stopped() const { return stopped_.load(); }
  void Stop() { stopped_ = true; }
  // Class name and message of an exception that ended the connection; empty when none did.
  const std::string& TerminatingExceptionClass() const { return exceptionClass_; }
  const std::string& TerminatingException() const { return exceptionMessage_; }

  // Whether this is the connection's first turn (it was accepted on this system thread, where
  // the manager accepts on its threads).
  bool FirstTurn() const { return turns_ == 1; }
  // Whether a turn has begun: one that has is freed only once its thread is done with it.
  bool HasRun() const { return ran_; }
  // Whether the per-connection step may have the connection wait idle (a manager that lets
  // connections wait so, while the server is on, and no hand-over of this one refused before).
  bool CanWaitIdle() const;
  // Asks, from within the per-connection step, that the connection wait idle; it only sets a
  // flag. The step must then return at once, leaving the connection open. Once it has, Run
  // hands the connection to the manager (TNetThreadMgr::HandOverIdle) and the turn ends; the
  // next turn runs, on any system thread, when bytes or the peer's close come, the connection's
  // read deadline passes, or the server switches off (the connection then aborted). Should the
  // manager refuse it, the step runs again at once on this thread, and CanWaitIdle() is false
  // from then on.
  void WaitIdle() { waitIdle_ = true; }

  // On the server's live-connection list; only the server sets it, under that list's lock. A
  // released connection still listed is on its way out and must not be freed yet.
  bool Listed() const { return listed_.load(); }
  void SetListed(bool listed) { listed_ = listed; }

 private:
  // One turn on a system thread, and the hand-over when the step asked to wait idle; false when
  // that thread should not run others (an exception the engine does not know of ended the
  // connection). The pool calls it, as a TNetTurn.
  bool Run() override;
  // The start of the connection (first turn), then the step until the connection ends (false)
  // or asks to wait idle (true).
  bool Turn();
  void Begin();
  void ExecuteStep();
  void Finish();

  TNetTCPServer& server_;
  std::shared_ptr<TNetTCPServer> serverHeld_;  // from its making until the connection has ended
  std::unique_ptr<TNetTCPServerConnection> connection_;
  const std::string peer_;
  std::atomic<bool> stopped_{false};
  std::atomic<bool> listed_{false};  // on the server's live-connection list
  bool ran_ = false;                 // a turn has begun
  int turns_ = 0;                    // turns begun, counted up to 2
  bool begun_ = false;               // greeting and OnConnect done
  bool waitIdle_ = false;            // WaitIdle asked, until Turn returns
  bool idleRefused_ = false;         // the manager would not take it to wait idle
  bool foreignException_ = false;    // ended by an exception the engine does not know of
  std::string exceptionClass_;
  std::string exceptionMessage_;
};

}  // namespace tovi::http

// A loopback server that plays a script per connection: for byte-exact checks of what a client
// sends, for answers no real server gives, and as a stand-in for the list service. Both builds
// (platform sockets); every wait is bounded; the destructor stops it.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace tovi::testing {

class ScriptedServer;

// One accepted connection as the script sees it.
class ScriptPeer {
 public:
  ScriptPeer(net::SocketHandle s, ScriptedServer& server) : socket_(s), server_(server) {}
  // Bytes up to and including the empty line ending a request head ("" if none came in time).
  std::string ReadHead(int timeoutMs = 5000);
  // Exactly count more bytes (fewer if the client stops sending in time).
  std::string ReadBytes(std::size_t count, int timeoutMs = 5000);
  // A head and as many body bytes as its Content-Length says.
  std::string ReadRequest(int timeoutMs = 5000);
  // Everything the client sent so far, head and body.
  const std::string& Received() const { return received_; }
  // Hands what came so far to the server's Requests(), before the script answers.
  void Record();
  void Send(const std::string& bytes);
  // Waits until the client closes its side (true) or the time is up (false).
  bool WaitForClose(int timeoutMs);

 private:
  bool Fill(int timeoutMs);  // one receive into pending_; false on close, error or time-out
  net::SocketHandle socket_;
  ScriptedServer& server_;
  std::string pending_;
  std::string received_;
};

class ScriptedServer {
 public:
  using Script = std::function<void(ScriptPeer&)>;
  // Listens on 127.0.0.1 at a free port; each connection runs script on its own thread and is
  // closed when the script returns.
  explicit ScriptedServer(Script script);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  std::string HostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }
  std::string Url(const std::string& pathAndQuery = "/") const {
    return "http://" + HostAndPort() + pathAndQuery;
  }
  int Connections() const { return connections_.load(); }
  // What each connection had received when its script ended, in order of acceptance; waits
  // (up to 10 s) for running scripts to end, so the client should be gone or done by then.
  std::vector<std::string> Received();
  // What the scripts recorded (ScriptPeer::Record), in order, without waiting for them to end.
  std::vector<std::string> Requests() const;
  bool WaitForRequests(std::size_t count, int timeoutMs) const;

 private:
  friend class ScriptPeer;
  void Listen();
  void Recorded(std::string request);
  Script script_;
  net::SocketHandle listener_ = net::kInvalidSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> finished_{0};
  mutable std::mutex lock_;
  mutable std::condition_variable recorded_;
  std::vector<std::string> received_;
  std::vector<std::string> requests_;
  std::vector<std::thread> peers_;
  std::thread thread_;
};

// A stand-in for a service: records each request (head and body), waits answerDelayMs, then
// answers response ("" hangs up without answering) and closes.
ScriptedServer::Script RecordAndAnswer(std::string response = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nOK",
                                       int answerDelayMs = 0);

}  // namespace tovi::testing

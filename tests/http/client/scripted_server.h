// A loopback server that plays a script per connection, for byte-exact checks of what the client
// sends and for answers no real server gives. Every wait is bounded; the destructor stops it.
#pragma once
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace tovi::testing {

// One accepted connection as the script sees it.
class ScriptPeer {
 public:
  explicit ScriptPeer(net::SocketHandle s) : socket_(s) {}
  // Bytes up to and including the empty line ending a request head ("" if none came in time).
  std::string ReadHead(int timeoutMs = 5000);
  // Exactly count more bytes (fewer if the client stops sending in time).
  std::string ReadBytes(std::size_t count, int timeoutMs = 5000);
  // Everything the client sent so far, head and body.
  const std::string& Received() const { return received_; }
  void Send(const std::string& bytes);
  // Waits until the client closes its side (true) or the time is up (false).
  bool WaitForClose(int timeoutMs);

 private:
  bool Fill(int timeoutMs);  // one receive into pending_; false on close, error or time-out
  net::SocketHandle socket_;
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
  std::string Url(const std::string& pathAndQuery = "/") const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
  }
  int Connections() const { return connections_.load(); }
  // What each connection had received when its script ended, in order of acceptance; waits
  // (up to 10 s) for running scripts to end, so the client should be gone or done by then.
  std::vector<std::string> Received();

 private:
  void Listen();
  Script script_;
  net::SocketHandle listener_ = net::kInvalidSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> finished_{0};
  std::mutex lock_;
  std::vector<std::string> received_;
  std::vector<std::thread> peers_;
  std::thread thread_;
};

// A port nothing listens on right now (bound once, then released).
int UnusedPort();

}  // namespace tovi::testing

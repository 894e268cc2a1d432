// An HTTP server on 127.0.0.1 (a free port) for the engine suites, with what its events saw.
#pragma once
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/server/http_server.h"
#include "support/wait.h"

namespace tovi::http::test {

struct TestServer {
  // The engine switches on only servers owned by a shared_ptr.
  std::shared_ptr<TNetHTTPServer> owner = std::make_shared<TNetHTTPServer>();
  TNetHTTPServer& server = *owner;
  std::mutex lock;
  std::vector<std::string> exceptions;  // OnException texts, in order

  TestServer() {
    TNetSocketHandle& binding = server.Bindings().Add();
    binding.SetIP("127.0.0.1");
    binding.SetPort(0);
    server.OnException = [this](TNetPeerThread&, const std::exception& e) {
      std::lock_guard<std::mutex> guard(lock);
      exceptions.push_back(e.what());
    };
  }
  ~TestServer() {
    try {
      server.SetActive(false);
    } catch (...) {
    }
  }
  void Start() { server.SetActive(true); }
  // Threads kept for the next connection, and connections waiting for a request holding none.
  TNetThreadMgr& UsePool() {
    auto pool = std::make_shared<TNetThreadMgrPool>();
    server.SetThreadMgr(pool);
    return *pool;
  }
  std::uint16_t Port() { return static_cast<std::uint16_t>(server.Bindings()[0].Port()); }

  std::vector<std::string> Exceptions() {
    std::lock_guard<std::mutex> guard(lock);
    return exceptions;
  }
  // Waits (bounded) until every connection thread has ended.
  bool WaitIdle(int timeoutMs = 5000) {
    return tovi::testing::WaitUntil([this] { return server.ConnectionCount() == 0; }, timeoutMs);
  }
};

}  // namespace tovi::http::test

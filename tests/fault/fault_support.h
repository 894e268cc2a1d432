// What the fault suites share: the real media server (engine and handler) on a free loopback
// port with a stand-in for the window, and counts of this process's threads and handles.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "support/fake_media_host.h"
#include "support/http_exchange.h"
#include "support/process_counts.h"
#include "support/raw_client.h"
#include "support/wait.h"
#include "server/media_handler.h"

namespace tovi::fault {

using Clock = std::chrono::steady_clock;

// The program's media server with the engine's real limits, on 127.0.0.1 and a free port.
class MediaServer {
 public:
  // Limits other than the engine's own only where a test says why.
  explicit MediaServer(const http::TNetServerLimits& limits = {},
                       const server::PageFetchLimits& pageLimits = {}) {
    server::MediaHandlerOptions options = server::PlatformMediaOptions();
    options.pageLimits = pageLimits;
    handler_ = std::make_unique<server::MediaRequestHandler>(host_, options);
    server_ = server::CreateMediaServer(
        "127.0.0.1", 0,
        [this](http::TNetPeerThread& t, http::TNetHTTPRequestInfo& q, http::TNetHTTPResponseInfo& r) {
          handler_->Handle(t, q, r);
        });
    server_->SetLimits(limits);
    server_->SetActive(true);
  }
  ~MediaServer() {
    try {
      server_->SetActive(false);
    } catch (...) {
    }
  }
  std::uint16_t Port() { return static_cast<std::uint16_t>(server_->Bindings()[0].Port()); }
  http::TNetHTTPServer& Engine() { return *server_; }
  // Threads kept for the next connection end here too: the counts are back at their start.
  void SwitchOff() { server_->SetActive(false); }
  std::size_t Connections() { return server_->ConnectionCount(); }

  // Waits (bounded) until at most `count` connections are open.
  bool WaitConnectionsAtMost(std::size_t count, int timeoutMs) {
    return testing::WaitUntil([&] { return server_->ConnectionCount() <= count; }, timeoutMs);
  }

 private:
  testing::FakeMediaHost host_{"127.0.0.1"};
  std::unique_ptr<server::MediaRequestHandler> handler_;
  std::shared_ptr<http::TNetHTTPServer> server_;
};

using testing::Get;
using testing::HandleCount;
using testing::ParseResponse;
using testing::Request;
using testing::ThreadCount;

// Waits (bounded) until the thread and handle counts are back at or under the given ones.
inline bool WaitCountsAtMost(long threads, long handles, int timeoutMs) {
  return testing::WaitUntil(
      [&] { return ThreadCount() <= threads && HandleCount() <= handles; }, timeoutMs);
}

}  // namespace tovi::fault

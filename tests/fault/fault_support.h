// What the fault suites share: the real media server (engine and handler) on a free loopback
// port with a stand-in for the window, and counts of this process's threads and handles.
#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "support/fake_media_host.h"
#include "support/http_exchange.h"
#include "support/loopback_engine.h"
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
                       const server::PageFetchLimits& pageLimits = {})
      : handler_(host_, WithPageLimits(pageLimits)),
        engine_([this](http::TNetPeerThread& t, http::TNetHTTPRequestInfo& q,
                       http::TNetHTTPResponseInfo& r) { handler_.Handle(t.Connection(), q, r); },
                [&limits](http::TNetHTTPServer& s) { s.SetLimits(limits); }) {}
  std::uint16_t Port() { return engine_.Port(); }
  http::TNetHTTPServer& Engine() { return engine_.Engine(); }
  // Threads kept for the next connection end here too: the counts are back at their start.
  void SwitchOff() { Engine().SetActive(false); }
  std::size_t Connections() { return Engine().ConnectionCount(); }

  // Waits (bounded) until at most `count` connections are open.
  bool WaitConnectionsAtMost(std::size_t count, int timeoutMs) {
    return testing::WaitUntil([&] { return Engine().ConnectionCount() <= count; }, timeoutMs);
  }

 private:
  static server::MediaHandlerOptions WithPageLimits(const server::PageFetchLimits& pageLimits) {
    server::MediaHandlerOptions options = server::PlatformMediaOptions();
    options.pageLimits = pageLimits;
    return options;
  }
  testing::FakeMediaHost host_{"127.0.0.1"};
  server::MediaRequestHandler handler_;
  testing::LoopbackEngine engine_;
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

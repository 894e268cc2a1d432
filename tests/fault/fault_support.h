// What the fault suites share: the real media server (engine and handler) on a free loopback
// port with a stand-in for the window, counts of this process's threads and handles, and a
// page server on loopback for "/parserlink" that can be made to never end.
#pragma once
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "support/process_counts.h"
#include "support/raw_client.h"
#include "support/wait.h"
#include "server/media_handler.h"

namespace tovi::fault {

using Clock = std::chrono::steady_clock;

// The window's side of the handler: records what it is told.
class QuietHost : public server::MediaHost {
 public:
  void ShowRequestPath(const std::string& text) override {
    std::lock_guard<std::mutex> guard(lock_);
    requestPath_ = text;
  }
  void ShowTrace(const std::string& text) override {
    std::lock_guard<std::mutex> guard(lock_);
    trace_ = text;
  }
  bool AnnounceDevice(const std::string& device, const std::string&) override {
    std::lock_guard<std::mutex> guard(lock_);
    const bool changed = device != device_;
    device_ = device;
    return changed;
  }
  std::string LocalAddress() override { return "127.0.0.1"; }

 private:
  std::mutex lock_;
  std::string requestPath_, trace_, device_;
};

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
  QuietHost host_;
  std::unique_ptr<server::MediaRequestHandler> handler_;
  std::shared_ptr<http::TNetHTTPServer> server_;
};

using testing::HandleCount;
using testing::ThreadCount;

// Waits (bounded) until the thread and handle counts are back at or under the given ones.
inline bool WaitCountsAtMost(long threads, long handles, int timeoutMs) {
  return testing::WaitUntil(
      [&] { return ThreadCount() <= threads && HandleCount() <= handles; }, timeoutMs);
}

// One GET over a fresh connection: the whole answer (until the server closes).
inline std::string Get(std::uint16_t port, const std::string& target, int timeoutMs = 10000) {
  return tovi::testing::ExchangeBytes(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", timeoutMs);
}

inline std::string StatusLine(const std::string& answer) {
  return answer.substr(0, answer.find("\r\n"));
}

inline std::string Body(const std::string& answer) {
  const std::size_t end = answer.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : answer.substr(end + 4);
}

// A page server for one "/parserlink" fetch on 127.0.0.1: answers the first connection with a
// head without Content-Length, then either sends bytes without end (until the fetcher hangs up
// or `maxBytes` are out) or falls silent after `prefix`. Stopped and joined by its destructor.
class EndlessPage {
 public:
  enum class Mode { Flood, Silent };
  EndlessPage(Mode mode, std::string prefix, std::int64_t maxBytes = 256ll << 20)
      : mode_(mode), prefix_(std::move(prefix)), maxBytes_(maxBytes) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(listener_, 4);
    thread_ = std::thread([this] { Serve(); });
  }
  ~EndlessPage() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page"; }
  std::int64_t BytesSent() const { return sent_.load(); }

 private:
  void Serve() {
    int s = ::accept(listener_, nullptr, nullptr);
    if (s < 0) return;
    char buffer[4096];
    ::recv(s, buffer, sizeof buffer, 0);  // the request; its content does not matter
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n" + prefix_;
    ::send(s, head.data(), head.size(), MSG_NOSIGNAL);
    if (mode_ == Mode::Flood) {
      const std::string chunk(65536, 'x');
      while (!stop_ && sent_ < maxBytes_) {
        ssize_t n = ::send(s, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        if (n <= 0) break;
        sent_ += n;
      }
    } else {
      // Silent: keep the connection open until the fetcher gives up or the test ends.
      for (int i = 0; i < 1200 && !stop_; ++i) {
        if (::recv(s, buffer, sizeof buffer, MSG_DONTWAIT) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    ::close(s);
  }

  Mode mode_;
  std::string prefix_;
  std::int64_t maxBytes_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> sent_{0};
  std::thread thread_;
};

}  // namespace tovi::fault

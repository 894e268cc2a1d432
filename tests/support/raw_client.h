// A raw loopback TCP peer for engine tests: connects to 127.0.0.1, sends exact bytes, reads
// what comes back with bounded waits. Every wait has a limit, so a hanging engine fails a
// test instead of hanging it. Built on platform/socket.h, so it runs on both builds.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "support/loopback.h"

namespace tovi::testing {

class RawClient {
 public:
  RawClient() { net::Startup(); }
  explicit RawClient(std::uint16_t port) : RawClient() { Connect(port); }
  ~RawClient() { Close(); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  RawClient(RawClient&& other) noexcept
      : socket_(other.socket_),
        opened_(other.opened_),
        closed_(other.closed_),
        pending_(std::move(other.pending_)) {
    other.socket_ = net::kInvalidSocket;
    other.opened_ = false;
  }

  // Makes the socket now, unconnected, for the next Connect: a test that takes every handle
  // of the process holds its own before.
  bool Open() {
    Close();
    socket_ = net::OpenStream();
    opened_ = socket_ != net::kInvalidSocket;
    return opened_;
  }

  // Connects the socket Open made, else a new one. fromHost: the last number of the loopback
  // address 127.0.0.x to connect from (a second device as the server sees it; Linux answers on
  // all of 127/8). receiveBuffer: bytes the system may hold unread for this client (0: its own
  // default), small for a slow reader.
  bool Connect(std::uint16_t port, int timeoutMs = 5000, std::uint8_t fromHost = 0,
               int receiveBuffer = 0) {
    if (!opened_ && !Open()) return false;
    opened_ = false;
    if (receiveBuffer != 0 && !SetReceiveBuffer(socket_, receiveBuffer)) {
      Close();
      return false;
    }
    if (fromHost != 0) {
      net::Endpoint local;
      local.address[0] = 127;
      local.address[3] = fromHost;
      if (net::Bind(socket_, local) != 0) {
        Close();
        return false;
      }
    }
    net::Endpoint e;
    e.address[0] = 127;
    e.address[3] = 1;
    e.port = port;
    if (net::Connect(socket_, e, timeoutMs) != 0) {
      Close();
      return false;
    }
    closed_ = false;
    return true;
  }
  bool IsOpen() const { return socket_ != net::kInvalidSocket; }

  // False when the bytes could not all be sent.
  bool Send(std::string_view bytes) {
    while (!bytes.empty()) {
      long n = net::Send(socket_, bytes.data(), bytes.size());
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  void ShutdownSend() { net::ShutdownSend(socket_); }

  // Reads until the peer closes (or resets) or timeoutMs passes; PeerClosed() tells which.
  std::string ReadAll(int timeoutMs = 5000) { return ReadUntil(timeoutMs, std::string::npos); }
  // Reads until at least count bytes arrived, the peer closed, or timeoutMs passed.
  std::string ReadCount(std::size_t count, int timeoutMs = 5000) {
    return ReadUntil(timeoutMs, count);
  }
  // Reads until the end of a response head and the Content-Length body (if any).
  std::string ReadResponse(int timeoutMs = 5000) {
    std::string got = pending_;
    pending_.clear();
    const auto deadline = Now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      std::size_t end = got.find("\r\n\r\n");
      if (end != std::string::npos) {
        std::size_t want = end + 4 + BodyLength(got.substr(0, end));
        if (got.size() >= want) {
          pending_ = got.substr(want);
          return got.substr(0, want);
        }
      }
      if (!ReadSome(&got, deadline)) return got;
    }
  }
  // True when the peer closed (or reset) the connection within timeoutMs, reading anything
  // that came before into *data (when given).
  bool WaitClosed(int timeoutMs, std::string* data = nullptr) {
    std::string got = ReadAll(timeoutMs);
    if (data) *data = got;
    return closed_;
  }
  bool PeerClosed() const { return closed_; }

  void Close() {
    opened_ = false;
    if (socket_ != net::kInvalidSocket) {
      net::Close(socket_);
      socket_ = net::kInvalidSocket;
    }
  }

 private:
  using Clock = std::chrono::steady_clock;
  static Clock::time_point Now() { return Clock::now(); }

  static std::size_t BodyLength(const std::string& head) {
    std::string lower = head;
    for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    std::size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return static_cast<std::size_t>(std::stoull(head.substr(at + 17)));
  }

  // One receive before the deadline; false on close, reset or time-out.
  bool ReadSome(std::string* out, Clock::time_point deadline) {
    if (socket_ == net::kInvalidSocket || closed_) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Now()).count();
    if (left <= 0) return false;
    int ready = net::WaitReadable(socket_, static_cast<int>(left));
    if (ready <= 0) return false;
    char buffer[65536];
    long n = net::Recv(socket_, buffer, sizeof buffer);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    out->append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  std::string ReadUntil(int timeoutMs, std::size_t count) {
    std::string got = pending_;
    pending_.clear();
    const auto deadline = Now() + std::chrono::milliseconds(timeoutMs);
    while (got.size() < count && ReadSome(&got, deadline)) {
    }
    return got;
  }

  net::SocketHandle socket_ = net::kInvalidSocket;
  bool opened_ = false;  // made by Open, not yet connected
  bool closed_ = false;
  std::string pending_;
};

// Connects, sends request, reads until the server closes (at most timeoutMs).
inline std::string ExchangeBytes(std::uint16_t port, std::string_view request,
                                 int timeoutMs = 5000) {
  RawClient client(port);
  client.Send(request);
  return client.ReadAll(timeoutMs);
}

// A listening socket on 127.0.0.1 at a free port (*port), or kInvalidSocket.
inline net::SocketHandle ListenOnLoopback(int backlog, std::uint16_t* port) {
  net::Startup();
  net::SocketHandle s = net::OpenStream();
  net::Endpoint e = Loopback(0);
  if (net::Bind(s, e) != 0 || net::Listen(s, backlog) != 0 || net::LocalEndpoint(s, &e) != 0) {
    net::Close(s);
    return net::kInvalidSocket;
  }
  *port = e.port;
  return s;
}

// A peer that never answers: accepts every connection on 127.0.0.1 and holds it open, reading
// and sending nothing, until destroyed.
class SilentListener {
 public:
  SilentListener() {
    listener_ = ListenOnLoopback(16, &port_);
    if (listener_ == net::kInvalidSocket) return;
    thread_ = std::thread([this] {
      // Polls so the destructor can stop it; gives up after ten minutes in any case.
      for (int poll = 0; poll < 6000 && !stop_; ++poll) {
        if (net::WaitReadable(listener_, 100) != 1) continue;
        const net::SocketHandle s = net::Accept(listener_, nullptr);
        if (s != net::kInvalidSocket) held_.push_back(s);
        accepted_ = static_cast<int>(held_.size());
      }
    });
  }
  ~SilentListener() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (net::SocketHandle s : held_) net::Close(s);
    net::Close(listener_);
  }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  std::uint16_t Port() const { return port_; }
  int Accepted() const { return accepted_; }

 private:
  net::SocketHandle listener_ = net::kInvalidSocket;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::vector<net::SocketHandle> held_;  // the accepting thread's
  std::thread thread_;
};

// A peer that never accepts: a listener on 127.0.0.1 whose queue is full, so that a further
// connect hangs. Hanging() is false where the system accepted every connect anyway.
class FullBacklog {
 public:
  FullBacklog() {
    listener_ = ListenOnLoopback(0, &port_);
    if (listener_ == net::kInvalidSocket) return;
    const net::Endpoint e = Loopback(port_);
    for (int i = 0; i < 64 && !hanging_; ++i) {
      fillers_.push_back(net::OpenStream());
      hanging_ = net::Connect(fillers_.back(), e, 200) != 0 && net::LastError() == net::kErrTimedOut;
    }
  }
  ~FullBacklog() {
    for (net::SocketHandle s : fillers_) net::Close(s);
    net::Close(listener_);
  }
  FullBacklog(const FullBacklog&) = delete;
  FullBacklog& operator=(const FullBacklog&) = delete;
  std::uint16_t Port() const { return port_; }
  bool Hanging() const { return hanging_; }

 private:
  net::SocketHandle listener_ = net::kInvalidSocket;
  std::uint16_t port_ = 0;
  bool hanging_ = false;
  std::vector<net::SocketHandle> fillers_;
};

}  // namespace tovi::testing

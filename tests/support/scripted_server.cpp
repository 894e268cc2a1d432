#include "support/scripted_server.h"

#include <stdexcept>

#include "support/loopback.h"

namespace tovi::testing {
namespace {

constexpr int kPollMs = 50;

std::size_t ContentLengthOf(const std::string& head) {
  const std::string name = "\r\nContent-Length: ";
  const std::size_t at = head.find(name);
  return at == std::string::npos ? 0 : std::stoul(head.substr(at + name.size()));
}

}  // namespace

bool ScriptPeer::Fill(int timeoutMs) {
  if (net::WaitReadable(socket_, timeoutMs) != 1) return false;
  char chunk[65536];
  const long n = net::Recv(socket_, chunk, sizeof chunk);
  if (n <= 0) return false;
  pending_.append(chunk, static_cast<std::size_t>(n));
  received_.append(chunk, static_cast<std::size_t>(n));
  return true;
}

std::string ScriptPeer::ReadHead(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::size_t at = pending_.find("\r\n\r\n");
    if (at != std::string::npos) {
      std::string head = pending_.substr(0, at + 4);
      pending_.erase(0, at + 4);
      return head;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) return {};
  }
}

std::string ScriptPeer::ReadBytes(std::size_t count, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (pending_.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !Fill(static_cast<int>(left.count()))) break;
  }
  std::string out = pending_.substr(0, count);
  pending_.erase(0, out.size());
  return out;
}

std::string ScriptPeer::ReadRequest(int timeoutMs) {
  const std::string head = ReadHead(timeoutMs);
  return head + ReadBytes(ContentLengthOf(head), timeoutMs);
}

void ScriptPeer::Record() { server_.Recorded(received_); }

void ScriptPeer::Send(const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    const long n = net::Send(socket_, bytes.data() + sent, bytes.size() - sent);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

bool ScriptPeer::WaitForClose(int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (net::WaitReadable(socket_, kPollMs) != 1) continue;
    char chunk[4096];
    const long n = net::Recv(socket_, chunk, sizeof chunk);
    if (n <= 0) return true;
    received_.append(chunk, static_cast<std::size_t>(n));
  }
  return false;
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  net::Startup();
  listener_ = net::OpenStream();
  if (listener_ == net::kInvalidSocket || net::Bind(listener_, Loopback(0)) != 0 ||
      net::Listen(listener_, 16) != 0)
    throw std::runtime_error("scripted server: cannot listen on 127.0.0.1");
  net::Endpoint local;
  net::LocalEndpoint(listener_, &local);
  port_ = local.port;
  thread_ = std::thread([this] { Listen(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  thread_.join();
  for (std::thread& t : peers_) t.join();
  net::Close(listener_);
}

void ScriptedServer::Recorded(std::string request) {
  std::lock_guard<std::mutex> guard(lock_);
  requests_.push_back(std::move(request));
  recorded_.notify_all();
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requests_;
}

bool ScriptedServer::WaitForRequests(std::size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> guard(lock_);
  return recorded_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return requests_.size() >= count; });
}

std::vector<std::string> ScriptedServer::Received() {
  for (int i = 0; i < 1000 && finished_.load() < connections_.load(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::lock_guard<std::mutex> guard(lock_);
  return received_;
}

void ScriptedServer::Listen() {
  while (!stop_) {
    if (net::WaitReadable(listener_, kPollMs) != 1) continue;
    net::SocketHandle s = net::Accept(listener_, nullptr);
    if (s == net::kInvalidSocket) continue;
    ++connections_;
    std::size_t index;
    {
      std::lock_guard<std::mutex> guard(lock_);
      index = received_.size();
      received_.emplace_back();
    }
    peers_.emplace_back([this, s, index] {
      ScriptPeer peer(s, *this);
      try {
        script_(peer);
      } catch (...) {
      }
      {
        std::lock_guard<std::mutex> guard(lock_);
        received_[index] = peer.Received();
      }
      ++finished_;
      net::Close(s);
    });
  }
}

ScriptedServer::Script RecordAndAnswer(std::string response, int answerDelayMs) {
  return [response, answerDelayMs](ScriptPeer& peer) {
    peer.ReadRequest();
    peer.Record();
    std::this_thread::sleep_for(std::chrono::milliseconds(answerDelayMs));  // the service's pace
    peer.Send(response);
  };
}

}  // namespace tovi::testing

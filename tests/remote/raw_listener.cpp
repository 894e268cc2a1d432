#include "remote/raw_listener.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/socket.h"

namespace tovi::remote::testing {

namespace {

std::size_t ContentLengthOf(const std::string& head) {
  const std::string name = "\r\nContent-Length: ";
  const std::size_t at = head.find(name);
  if (at == std::string::npos) return 0;
  return std::stoul(head.substr(at + name.size()));
}

// Reads one request: the head up to the empty line, then its announced body. Bounded by 5 s of
// silence, so a stuck client cannot hold the test.
std::string ReadRequest(net::SocketHandle s) {
  std::string bytes;
  char buffer[4096];
  std::size_t wanted = std::string::npos;
  while (bytes.size() < wanted) {
    if (net::WaitReadable(s, 5000) != 1) break;
    const long got = net::Recv(s, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
    const std::size_t headEnd = bytes.find("\r\n\r\n");
    if (wanted == std::string::npos && headEnd != std::string::npos) {
      wanted = headEnd + 4 + ContentLengthOf(bytes.substr(0, headEnd + 2));
    }
  }
  return bytes;
}

}  // namespace

struct RawListener::State {
  net::SocketHandle listener = net::kInvalidSocket;
  std::string response;
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<std::string> received;
  std::atomic<bool> stopping{false};
  std::thread thread;
};

RawListener::RawListener(std::string response, int answerDelayMs)
    : state_(std::make_unique<State>()) {
  state_->response = std::move(response);
  net::Startup();
  state_->listener = net::OpenStream();
  net::Endpoint local;
  local.address[0] = 127;
  local.address[3] = 1;
  if (state_->listener == net::kInvalidSocket || net::Bind(state_->listener, local) != 0 ||
      net::Listen(state_->listener, 16) != 0 || net::LocalEndpoint(state_->listener, &local) != 0) {
    throw std::runtime_error("raw listener: no loopback port");
  }
  port_ = local.port;
  State* state = state_.get();
  state_->thread = std::thread([state, answerDelayMs] {
    // Polls so the destructor can stop it; gives up after ten minutes in any case.
    for (int poll = 0; poll < 6000 && !state->stopping; ++poll) {
      if (net::WaitReadable(state->listener, 100) != 1) continue;
      net::Endpoint peer;
      const net::SocketHandle client = net::Accept(state->listener, &peer);
      if (client == net::kInvalidSocket) continue;
      std::string request = ReadRequest(client);
      {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->received.push_back(std::move(request));
        state->changed.notify_all();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(answerDelayMs));
      net::Send(client, state->response.data(), state->response.size());
      net::ShutdownSend(client);
      net::Close(client);
    }
  });
}

RawListener::~RawListener() {
  state_->stopping = true;
  if (state_->thread.joinable()) state_->thread.join();
  net::Close(state_->listener);
}

std::vector<std::string> RawListener::Received() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->received;
}

bool RawListener::WaitForConnections(std::size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return state_->received.size() >= count; });
}

}  // namespace tovi::remote::testing

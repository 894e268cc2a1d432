#include "dlna/ssdp_service.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>
#include <string_view>
#include <vector>

#include "dlna/ssdp.h"
#include "http/header_values.h"
#include "platform/udp.h"

namespace tovi::dlna {
namespace {

using Clock = std::chrono::steady_clock;

// Multicast leaves the adapter's own network at most one router away: the home network.
constexpr int kMulticastTtl = 2;

std::chrono::milliseconds Ms(long long ms) { return std::chrono::milliseconds(ms); }

// A dotted IPv4 address; false for anything else.
bool ParseDotted(const std::string& text, net::Endpoint* out) {
  int part = 0;
  int value = -1;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      value = (value < 0 ? 0 : value * 10) + (c - '0');
      if (value > 255) return false;
    } else if (c == '.' && value >= 0 && part < 3) {
      out->address[part++] = static_cast<std::uint8_t>(value);
      value = -1;
    } else {
      return false;
    }
  }
  if (part != 3 || value < 0) return false;
  out->address[3] = static_cast<std::uint8_t>(value);
  return true;
}

// A sender that can be answered: a unicast address and a port.
bool Answerable(const net::Endpoint& from) {
  const std::uint8_t first = from.address[0];
  return from.port != 0 && first != 0 && first < 224;
}

net::Endpoint Group() {
  net::Endpoint group;
  std::memcpy(group.address, ssdp::kGroupAddress, 4);
  group.port = ssdp::kPort;
  return group;
}

}  // namespace

// What one Start..Stop needs: the socket, what to say, the answers waiting for their time.
struct SsdpService::Run {
  struct PendingAnswer {
    Clock::time_point due;
    net::Endpoint to;
    ssdp::Target target;
  };

  net::MulticastSocket socket;
  DeviceIdentity identity;
  ssdp::Origin origin;
  std::vector<ssdp::Target> targets;
  std::vector<PendingAnswer> pending;
  std::mt19937 random{std::random_device{}()};
  // Answers granted in the current second (the rate bound).
  Clock::time_point windowStart = Clock::now();
  int answersInWindow = 0;

  void SendToGroup(const std::string& message) {
    socket.SendTo(message.data(), message.size(), Group());
  }
};

SsdpService::SsdpService(SsdpLimits limits) : limits_(limits) {}

SsdpService::~SsdpService() { Stop(); }

void SsdpService::Start(const std::string& address, const std::string& descriptionUrl,
                        const DeviceIdentity& identity) {
  Stop();
  net::Endpoint adapter;
  if (!ParseDotted(address, &adapter)) {
    throw SsdpError("Discovery address is not an IPv4 address: " + address);
  }
  net::Startup();
  auto run = std::make_unique<Run>();
  const int code = run->socket.Open(Group(), adapter, kMulticastTtl);
  if (code != 0) {
    throw SsdpError("Discovery port 1900 at " + address + ": socket error " + std::to_string(code));
  }
  run->identity = identity;
  run->origin = {descriptionUrl, ServerProduct()};
  run->targets = ssdp::DeviceTargets(identity);
  run_ = std::move(run);
  stopping_ = false;
  thread_ = std::thread([this] { Loop(*run_); });
}

void SsdpService::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  thread_.join();
  run_.reset();
}

void SsdpService::Loop(Run& run) {
  std::vector<char> buffer(limits_.maxDatagramBytes);
  auto nextRound = Clock::now();
  int roundsLeft = limits_.announceRounds;

  while (!stopping_) {
    auto now = Clock::now();
    if (now >= nextRound) {
      for (const ssdp::Target& target : run.targets) run.SendToGroup(ssdp::AliveMessage(target, run.origin));
      if (--roundsLeft > 0) {
        nextRound = now + Ms(limits_.announceSpacingMs);
      } else {
        roundsLeft = limits_.announceRounds;
        nextRound = now + Ms(limits_.renewMs);
      }
    }

    // Answers whose time has come; the rest wait.
    auto due = std::partition(run.pending.begin(), run.pending.end(),
                              [&](const Run::PendingAnswer& a) { return a.due > now; });
    const std::string date = due == run.pending.end()
                                 ? std::string()
                                 : http::FormatHttpDate(std::chrono::duration_cast<std::chrono::seconds>(
                                       std::chrono::system_clock::now().time_since_epoch()).count());
    for (auto it = due; it != run.pending.end(); ++it) {
      const std::string message = ssdp::SearchResponse(it->target, run.origin, date);
      run.socket.SendTo(message.data(), message.size(), it->to);
    }
    run.pending.erase(due, run.pending.end());

    auto wakeAt = std::min(nextRound, now + Ms(limits_.wakeMs));
    for (const Run::PendingAnswer& a : run.pending) wakeAt = std::min(wakeAt, a.due);
    const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count();

    net::Datagram got;
    int error = 0;
    const int r = run.socket.Receive(buffer.data(), buffer.size(),
                                     static_cast<int>(std::max<long long>(waitMs, 0)), &got, &error);
    if (r < 0) {
      // The socket failed under us (the adapter went away): wait out the slice, so a failing
      // receive does not spin; the owner moves us when the address changes.
      std::this_thread::sleep_for(Ms(limits_.wakeMs));
      continue;
    }
    if (r == 0 || got.truncated || !Answerable(got.from)) continue;
    const std::optional<ssdp::SearchAnswers> answers =
        ssdp::AnswerSearch(std::string_view(buffer.data(), got.size), run.identity);
    if (!answers) continue;

    now = Clock::now();
    if (now - run.windowStart >= std::chrono::seconds(1)) {
      run.windowStart = now;
      run.answersInWindow = 0;
    }
    const int count = static_cast<int>(answers->targets.size());
    if (run.answersInWindow + count > limits_.maxAnswersPerSecond) continue;
    run.answersInWindow += count;
    std::uniform_int_distribution<int> delayMs(0, answers->maxDelayMs);
    for (const ssdp::Target& target : answers->targets) {
      run.pending.push_back({now + Ms(delayMs(run.random)), got.from, target});
    }
  }

  for (const ssdp::Target& target : run.targets) run.SendToGroup(ssdp::ByebyeMessage(target));
}

}  // namespace tovi::dlna

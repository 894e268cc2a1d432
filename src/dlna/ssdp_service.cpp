#include "dlna/ssdp_service.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

#include "dlna/ssdp.h"
#include "dlna/ssdp_budget.h"
#include "http/header_values.h"
#include "platform/address.h"
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

std::uint32_t HostOrder(const net::Endpoint& e) {
  return (std::uint32_t{e.address[0]} << 24) | (std::uint32_t{e.address[1]} << 16) |
         (std::uint32_t{e.address[2]} << 8) | e.address[3];
}

net::Endpoint Group() {
  net::Endpoint group;
  std::memcpy(group.address, ssdp::kGroupAddress, 4);
  group.port = ssdp::kPort;
  return group;
}

}  // namespace

// What one Start..Stop needs: the socket, where it serves, what to say, the answers waiting for
// their time; and the steps of its thread's loop.
struct SsdpService::Run {
  struct PendingAnswer {
    Clock::time_point due;
    net::Endpoint to;
    ssdp::Target target;
  };

  explicit Run(const SsdpLimits& limits)
      : limits(limits),
        budget({limits.maxAnswersPerSecond, limits.maxAnswersPerSearcherPerSecond,
                limits.maxEverythingAnswersPerSecond, limits.maxSearchersPerSecond}) {}

  const SsdpLimits& limits;
  net::MulticastSocket socket;
  std::uint32_t address = 0;  // the served adapter's, host order
  net::AddressLink link;
  DeviceIdentity identity;
  ssdp::Origin origin;
  std::vector<ssdp::Target> targets;
  std::vector<PendingAnswer> pending;
  std::mt19937 random{std::random_device{}()};
  AnswerBudget budget;
  Clock::time_point nextRound = Clock::now();
  int roundsLeft = limits.announceRounds;

  void SendToGroup(const std::string& message) {
    socket.SendTo(message.data(), message.size(), Group());
  }
  void Announce(Clock::time_point now);
  void SendDueAnswers(Clock::time_point now);
  int WaitMs(Clock::time_point now) const;
  bool OnTheLink(const net::Datagram& got) const;
  void Consider(std::string_view datagram, const net::Datagram& got);
};

// A round of announcements when its time has come: the next one soon while the start's rounds
// last, then at the renewal.
void SsdpService::Run::Announce(Clock::time_point now) {
  if (now < nextRound) return;
  for (const ssdp::Target& target : targets) SendToGroup(ssdp::AliveMessage(target, origin));
  if (--roundsLeft > 0) {
    nextRound = now + Ms(limits.announceSpacingMs);
  } else {
    roundsLeft = limits.announceRounds;
    nextRound = now + Ms(limits.renewMs);
  }
}

// Answers whose time has come; the rest wait.
void SsdpService::Run::SendDueAnswers(Clock::time_point now) {
  auto due = std::partition(pending.begin(), pending.end(),
                            [&](const PendingAnswer& a) { return a.due > now; });
  if (due == pending.end()) return;
  const std::string date = http::FormatHttpDate(std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch()).count());
  for (auto it = due; it != pending.end(); ++it) {
    const std::string message = ssdp::SearchResponse(it->target, origin, date);
    socket.SendTo(message.data(), message.size(), it->to);
  }
  pending.erase(due, pending.end());
}

// Until the next thing to do: a round or an answer. (Stop interrupts the wait.)
int SsdpService::Run::WaitMs(Clock::time_point now) const {
  auto wakeAt = nextRound;
  for (const PendingAnswer& a : pending) wakeAt = std::min(wakeAt, a.due);
  // Rounded up: a wait that ends short of the moment finds nothing due and, waiting 0 ms,
  // comes round again at once until the moment has passed.
  const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count();
  return static_cast<int>(std::max<long long>(waitMs, 0));
}

// A searcher we may answer: it came in on the served adapter, from a unicast address of that
// adapter's network, with a port.
bool SsdpService::Run::OnTheLink(const net::Datagram& got) const {
  const std::uint32_t from = HostOrder(got.from);
  return got.adapterIndex == link.adapterIndex && (from & link.mask) == (address & link.mask) &&
         got.from.port != 0 && got.from.address[0] != 0 && got.from.address[0] < 224;
}

// A datagram heard: if it is a search from the link that the budget grants, its answers are
// scheduled, each at a random moment within the delay it allowed.
void SsdpService::Run::Consider(std::string_view datagram, const net::Datagram& got) {
  if (!OnTheLink(got)) return;
  const std::optional<ssdp::SearchAnswers> answers = ssdp::AnswerSearch(datagram, identity);
  if (!answers) return;
  const auto now = Clock::now();
  if (!budget.Grant(HostOrder(got.from), static_cast<int>(answers->targets.size()),
                    answers->everything, now)) {
    return;
  }
  std::uniform_int_distribution<int> delayMs(0, answers->maxDelayMs);
  for (const ssdp::Target& target : answers->targets) {
    pending.push_back({now + Ms(delayMs(random)), got.from, target});
  }
}

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
  auto run = std::make_unique<Run>(limits_);
  run->address = HostOrder(adapter);
  int code = run->socket.Open(Group(), adapter, kMulticastTtl);
  // The adapter may go between the socket's opening and this look: as if it had gone before.
  const std::optional<net::AddressLink> link = net::LinkOfAddress(run->address);
  if (code == 0 && !link) code = net::kErrAddressNotAvailable;
  if (code != 0) {
    throw SsdpError("Discovery port 1900 at " + address + ": socket error " + std::to_string(code));
  }
  run->link = *link;
  run->identity = identity;
  run->origin = {descriptionUrl, ServerProduct()};
  run->targets = ssdp::DeviceTargets(identity);
  run_ = std::move(run);
  stopping_ = false;
  thread_ = std::thread([this] { Loop(*run_); });
}

bool SsdpService::OnItsAdapter() const {
  if (!Running()) return true;
  const std::optional<net::AddressLink> link = net::LinkOfAddress(run_->address);
  return !link || link->adapterIndex == run_->link.adapterIndex;
}

void SsdpService::Stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  run_->socket.Interrupt();
  thread_.join();
  run_.reset();
}

void SsdpService::Loop(Run& run) {
  std::vector<char> buffer(limits_.maxDatagramBytes);
  while (!stopping_) {
    const auto now = Clock::now();
    run.Announce(now);
    run.SendDueAnswers(now);
    net::Datagram got;
    int error = 0;
    const int r = run.socket.Receive(buffer.data(), buffer.size(), run.WaitMs(now), &got, &error);
    if (r < 0) {
      // The socket failed under us (the adapter went away): a pause, so a failing receive does
      // not spin; the owner moves us when the address changes.
      std::this_thread::sleep_for(Ms(limits_.failedReceivePauseMs));
    } else if (r == 1 && !got.truncated) {
      run.Consider(std::string_view(buffer.data(), got.size), got);
    }
  }
  for (const ssdp::Target& target : run.targets) run.SendToGroup(ssdp::ByebyeMessage(target));
}

}  // namespace tovi::dlna

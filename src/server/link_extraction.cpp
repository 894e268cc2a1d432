#include "server/link_extraction.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <optional>

#include "http/client/browser_identity.h"
#include "http/client/http_client.h"
#include "http/client/tcp_client.h"
#include "http/coding.h"
#include "platform/socket.h"
#include "regex/pattern.h"

namespace tovi::server {

namespace {

std::uint32_t HostOrder(const std::uint8_t address[4]) {
  return std::uint32_t{address[0]} << 24 | std::uint32_t{address[1]} << 16 |
         std::uint32_t{address[2]} << 8 | address[3];
}

// The engine's and the window's addresses are dotted; anything else is no address (0).
std::uint32_t ParseDotted(const std::string& dotted) {
  std::uint8_t bytes[4] = {};
  try {
    http::DottedToAddress(dotted, bytes);
  } catch (const std::exception&) {
    return 0;
  }
  return HostOrder(bytes);
}

bool Holds(const std::vector<std::uint32_t>& list, std::uint32_t address) {
  return std::find(list.begin(), list.end(), address) != list.end();
}

}  // namespace

PageReach ReachOf(const std::string& peerAddress, const std::string& servedAddress,
                  const PcNetworks& pc) {
  PageReach reach;
  for (const net::Adapter& a : pc.adapters) {
    reach.pcAddresses.insert(reach.pcAddresses.end(), a.ipv4.begin(), a.ipv4.end());
  }
  reach.gateways = pc.gateways;
  const std::uint32_t peer = ParseDotted(peerAddress);
  reach.fromPc = net::RangeOf(peer) == net::AddressRange::Loopback || Holds(reach.pcAddresses, peer);
  const std::uint32_t served = ParseDotted(servedAddress);
  if (served != 0 && pc.servedMask != 0) {
    reach.servedNetwork = served & pc.servedMask;
    reach.servedMask = pc.servedMask;
  }
  return reach;
}

PageReach SystemReachOf(const std::string& peerAddress, const std::string& servedAddress) {
  PcNetworks pc;
  pc.adapters = net::ListAdapters();
  pc.gateways = net::DefaultGateways();
  const std::optional<net::AddressLink> link = net::LinkOfAddress(ParseDotted(servedAddress));
  if (link) pc.servedMask = link->mask;
  return ReachOf(peerAddress, servedAddress, pc);
}

bool FetchAllowed(const PageReach& reach, const net::Endpoint& target) {
  if (reach.fromPc) return true;
  const std::uint32_t t = HostOrder(target.address);
  if (Holds(reach.pcAddresses, t) || Holds(reach.gateways, t)) return false;
  if (net::RangeOf(t) == net::AddressRange::Public) return true;
  return reach.servedMask != 0 && (t & reach.servedMask) == reach.servedNetwork;
}

std::string FetchPage(const std::string& url, const PageFetchLimits& limits,
                      const PageReach& reach, const Abandoned& abandoned, bool* refused,
                      const net::NameLookup& lookup) {
  if (refused) *refused = false;
  std::string page;
  try {
    // Room for the largest page at once: growing by doubling would copy it and, for a moment,
    // hold it one and a half times. Only what arrives is backed by memory.
    page.reserve(static_cast<std::size_t>(limits.maxBodyBytes));
    http::TNetHTTP client;
    client.OnCheckEndpoint = [&reach](const net::Endpoint& target) {
      return FetchAllowed(reach, target);
    };
    client.Request().SetUserAgent(http::kBrowserUserAgent);
    client.SetReadTimeout(limits.timeoutMs);
    client.SetSendTimeout(limits.timeoutMs);
    client.SetReadDeadline(http::TNetHTTP::Clock::now() +
                           std::chrono::milliseconds(limits.totalTimeoutMs));
    client.SetMaxBodyLength(limits.maxBodyBytes);
    client.SetAbortSource(abandoned);
    client.LookupName = lookup;
    client.Get(url, page);
  } catch (const http::ENetHTTPInvalidHost&) {
    if (refused) *refused = true;
  } catch (const http::ENetHTTPInvalidHeaderValue&) {
    if (refused) *refused = true;
  } catch (const http::ENetConnectionNotAllowed&) {
    if (refused) *refused = true;
  } catch (const std::exception&) {
    // Whatever arrived is the page; an unreachable page is an empty one.
  }
  return page;
}

bool WaitWhileAbandonable(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                          int waitMs, const Abandoned& abandoned, const std::function<bool()>& ready) {
  using Clock = std::chrono::steady_clock;
  const auto until = Clock::now() + std::chrono::milliseconds(waitMs);
  while (!ready()) {
    if (abandoned && abandoned()) return false;
    const auto now = Clock::now();
    if (now >= until) return false;
    // In slices, so that a switch-off is noticed while waiting.
    changed.wait_until(lock, std::min(until, now + std::chrono::milliseconds(net::kWakeCheckMs)));
  }
  return true;
}

SharedRoom::Held SharedRoom::Take(const std::string& peer, std::int64_t amount, int waitMs,
                                  const Abandoned& abandoned) {
  if (amount > share_) return Held();
  std::unique_lock<std::mutex> lock(lock_);
  const auto fits = [&] {
    const auto held = heldBy_.find(peer);
    return amount <= free_ && (held == heldBy_.end() ? 0 : held->second) + amount <= share_;
  };
  if (!WaitWhileAbandonable(lock, given_, waitMs, abandoned, fits)) return Held();
  free_ -= amount;
  heldBy_[peer] += amount;
  return Held(this, peer, amount);
}

void SharedRoom::Give(const std::string& peer, std::int64_t amount) {
  {
    std::lock_guard<std::mutex> lock(lock_);
    free_ += amount;
    const auto held = heldBy_.find(peer);
    if (held != heldBy_.end() && (held->second -= amount) <= 0) heldBy_.erase(held);
  }
  // Every waiter: room freed of one peer's share may be what another's waits for, or not.
  given_.notify_all();
}

CutOutcome CutBetween(std::string page, const std::string& start, const std::string& end,
                      std::string* text) {
  try {
    TPattern pattern;
    pattern.SetInputString(std::move(page));
    pattern.SetExpression(start + "(.*?)" + end);
    if (!pattern.Exec()) return CutOutcome::NotFound;
    *text = pattern.GroupText(1);
    return CutOutcome::Found;
  } catch (const std::exception&) {
    return CutOutcome::Failed;
  }
}

}  // namespace tovi::server

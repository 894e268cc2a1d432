#include "server/link_extraction.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "http/client/browser_identity.h"
#include "http/client/http_client.h"
#include "platform/socket.h"
#include "regex/pattern.h"

namespace tovi::server {

namespace {

// 127.0.0.0/8, and 0.0.0.0/8, which a connect takes for this host.
bool ReachesThisHost(const std::uint8_t address[4]) {
  return address[0] == 127 || address[0] == 0;
}

}  // namespace

bool FetchAllowed(const std::string& peerAddress, const net::Endpoint& target) {
  // The engine gives the peer in dotted form; a loopback peer is 127.x.x.x.
  return peerAddress.rfind("127.", 0) == 0 || !ReachesThisHost(target.address);
}

std::string FetchPage(const std::string& url, const PageFetchLimits& limits,
                      const std::string& peerAddress, const Abandoned& abandoned, bool* refused,
                      const net::NameLookup& lookup) {
  if (refused) *refused = false;
  std::string page;
  try {
    // Room for the largest page at once: growing by doubling would copy it and, for a moment,
    // hold it one and a half times. Only what arrives is backed by memory.
    page.reserve(static_cast<std::size_t>(limits.maxBodyBytes));
    http::TNetHTTP client;
    client.OnCheckEndpoint = [&peerAddress](const net::Endpoint& target) {
      return FetchAllowed(peerAddress, target);
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

PageSlots::Slot PageSlots::Acquire(int waitMs, const Abandoned& abandoned) {
  std::unique_lock<std::mutex> lock(lock_);
  if (!WaitWhileAbandonable(lock, freed_, waitMs, abandoned, [this] { return free_ > 0; })) {
    return Slot();
  }
  --free_;
  return Slot(this);
}

void PageSlots::Release() {
  {
    std::lock_guard<std::mutex> lock(lock_);
    ++free_;
  }
  freed_.notify_one();
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

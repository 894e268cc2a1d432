#include "dlna/eventing.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <random>

#include "dlna/xml.h"
#include "http/client/http_client.h"
#include "http/header_list.h"
#include "http/stream.h"

namespace tovi::dlna {
namespace {

// A subscriber's answer to a NOTIFY is an empty 200; more than this is not read.
constexpr std::int64_t kMaxNotifyAnswerBytes = 4096;

std::optional<std::array<std::uint8_t, 4>> ParseDotted(const std::string& s) {
  std::array<std::uint8_t, 4> out{};
  std::size_t part = 0;
  int value = -1;
  for (std::size_t i = 0; i <= s.size(); ++i) {
    if (i == s.size() || s[i] == '.') {
      if (value < 0 || part >= 4) return std::nullopt;
      out[part++] = static_cast<std::uint8_t>(value);
      value = -1;
    } else if (s[i] >= '0' && s[i] <= '9') {
      value = (value < 0 ? 0 : value * 10) + (s[i] - '0');
      if (value > 255) return std::nullopt;
    } else {
      return std::nullopt;
    }
  }
  if (part != 4) return std::nullopt;
  return out;
}

// The first URL of a CALLBACK value ("<http://a:p/path><...>") that names the subscriber's own
// address, rebuilt from its parts; empty when none does.
std::string CallbackUrl(const std::string& header, const std::string& peerAddress,
                        std::size_t maxBytes) {
  std::size_t pos = 0;
  for (;;) {
    const std::size_t open = header.find('<', pos);
    if (open == std::string::npos) return {};
    const std::size_t close = header.find('>', open);
    if (close == std::string::npos) return {};
    pos = close + 1;
    const std::string url = header.substr(open + 1, close - open - 1);
    constexpr std::string_view kScheme = "http://";
    if (url.size() > maxBytes || url.compare(0, kScheme.size(), kScheme) != 0) continue;
    const std::size_t slash = url.find('/', kScheme.size());
    const std::string authority = url.substr(kScheme.size(), slash - kScheme.size());
    const std::string path = slash == std::string::npos ? "/" : url.substr(slash);
    const std::size_t colon = authority.find(':');
    const std::string host = authority.substr(0, colon);
    int port = 80;
    if (colon != std::string::npos) {
      const std::string digits = authority.substr(colon + 1);
      if (digits.empty() || digits.size() > 5 ||
          !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        continue;
      port = std::stoi(digits);
      if (port < 1 || port > 65535) continue;
    }
    // The host as a dotted address equal to the subscriber's: a name could resolve anywhere.
    if (host != peerAddress || !ParseDotted(host)) continue;
    return std::string(kScheme) + host + ":" + std::to_string(port) + path;
  }
}

std::string NewSid() {
  thread_local std::mt19937_64 random{std::random_device{}()};
  const std::uint64_t hi = random();
  const std::uint64_t lo = random();
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "uuid:";
  for (int i = 0; i < 32; ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) out += '-';
    const std::uint64_t word = i < 16 ? hi : lo;
    int nibble = static_cast<int>((word >> ((15 - i % 16) * 4)) & 0xF);
    if (i == 12) nibble = 4;                    // version 4: random
    if (i == 16) nibble = 8 | (nibble & 0x3);   // the RFC 4122 variant
    out += kHex[nibble];
  }
  return out;
}

std::string PropertySet(const std::vector<std::pair<std::string, std::string>>& variables) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
      "<e:propertyset xmlns:e=\"urn:schemas-upnp-org:event-1-0\">";
  for (const auto& [name, value] : variables) {
    xml += "<e:property><" + name + ">" + XmlEscape(value) + "</" + name + "></e:property>";
  }
  xml += "</e:propertyset>\r\n";
  return xml;
}

std::int64_t UnixNow() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

}  // namespace

EventPublisher::EventPublisher(EventedState state, EventingLimits limits)
    : state_(std::move(state)), limits_(limits) {}

EventPublisher::~EventPublisher() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
    queue_.clear();
  }
  abort_ = true;
  queued_.notify_all();
  if (sender_.joinable()) sender_.join();
}

std::size_t EventPublisher::Count() {
  std::lock_guard<std::mutex> guard(lock_);
  DropExpired(Clock::now());
  return subscriptions_.size();
}

void EventPublisher::DropExpired(Clock::time_point now) {
  subscriptions_.erase(std::remove_if(subscriptions_.begin(), subscriptions_.end(),
                                      [now](const Subscription& s) { return s.expires <= now; }),
                       subscriptions_.end());
}

void EventPublisher::Handle(const ServiceUrls& service, http::TNetHTTPRequestInfo& request,
                            http::TNetHTTPResponseInfo& response) {
  response.SetContentType("");
  const http::TNetHeaderList& h = request.HeaderLines();
  const std::string sid = http::Trim(h.Values("SID"));
  const bool hasSid = h.IndexOfName("SID") >= 0;
  const bool hasNewParts = h.IndexOfName("NT") >= 0 || h.IndexOfName("CALLBACK") >= 0;
  if (hasSid && hasNewParts) {
    response.SetResponseCode(400);
    return;
  }
  if (request.RequestMethod() == "UNSUBSCRIBE") {
    Unsubscribe(service, sid, response);
  } else if (hasSid) {
    Renew(service, sid, response);
  } else {
    Subscribe(service, request, response);
  }
}

void EventPublisher::AnswerSubscription(const std::string& sid,
                                        http::TNetHTTPResponseInfo& response) const {
  response.SetResponseCode(200);
  response.SetDate(UnixNow());
  response.SetContentLength(0);
  response.CustomHeaders().Add("SID: " + sid);
  response.CustomHeaders().Add("TIMEOUT: Second-" + std::to_string(limits_.termSeconds));
}

void EventPublisher::Subscribe(const ServiceUrls& service, http::TNetHTTPRequestInfo& request,
                               http::TNetHTTPResponseInfo& response) {
  const http::TNetHeaderList& h = request.HeaderLines();
  const std::string peer = request.RemoteAddress();
  const std::string callback = CallbackUrl(h.Values("CALLBACK"), peer, limits_.maxCallbackBytes);
  if (http::Trim(h.Values("NT")) != "upnp:event" || callback.empty()) {
    response.SetResponseCode(412);
    return;
  }
  Subscription added{NewSid(), &service, Clock::now() + std::chrono::seconds(limits_.termSeconds)};
  {
    std::lock_guard<std::mutex> guard(lock_);
    DropExpired(Clock::now());
    if (subscriptions_.size() >= limits_.maxSubscriptions && !subscriptions_.empty()) {
      subscriptions_.erase(std::min_element(
          subscriptions_.begin(), subscriptions_.end(),
          [](const Subscription& a, const Subscription& b) { return a.expires < b.expires; }));
    }
    subscriptions_.push_back(added);
  }
  const std::string body = PropertySet(state_(service));
  // The subscriber learns the SID from this answer: it goes out before the event that names it,
  // and the event waits a little more, as a control point may read its connections in any order
  // and drop an event whose SID it does not know yet (one did, answering 200 all the same).
  AnswerSubscription(added.sid, response);
  response.SendHeaders();
  Queue({callback, peer, added.sid, body,
         Clock::now() + std::chrono::milliseconds(limits_.initialEventDelayMs)});
}

void EventPublisher::Renew(const ServiceUrls& service, const std::string& sid,
                           http::TNetHTTPResponseInfo& response) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    const Clock::time_point now = Clock::now();
    DropExpired(now);
    auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                           [&](const Subscription& s) { return s.sid == sid && s.service == &service; });
    if (it == subscriptions_.end()) {
      response.SetResponseCode(412);
      return;
    }
    it->expires = now + std::chrono::seconds(limits_.termSeconds);
  }
  AnswerSubscription(sid, response);
}

void EventPublisher::Unsubscribe(const ServiceUrls& service, const std::string& sid,
                                 http::TNetHTTPResponseInfo& response) {
  std::lock_guard<std::mutex> guard(lock_);
  DropExpired(Clock::now());
  auto it = std::find_if(subscriptions_.begin(), subscriptions_.end(),
                         [&](const Subscription& s) { return s.sid == sid && s.service == &service; });
  if (sid.empty() || it == subscriptions_.end()) {
    response.SetResponseCode(412);
    return;
  }
  subscriptions_.erase(it);
  response.SetResponseCode(200);
  response.SetContentLength(0);
}

void EventPublisher::Queue(Event event) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (stopping_ || queue_.size() >= limits_.maxQueuedEvents) return;
    queue_.push_back(std::move(event));
    if (!sender_.joinable()) sender_ = std::thread([this] { SendEvents(); });
  }
  queued_.notify_one();
}

void EventPublisher::SendEvents() {
  std::unique_lock<std::mutex> lock(lock_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    const Event event = std::move(queue_.front());
    queue_.pop_front();
    if (queued_.wait_until(lock, event.sendAt, [this] { return stopping_; })) return;
    lock.unlock();
    Send(event);
    lock.lock();
  }
}

void EventPublisher::Send(const Event& event) {
  const auto address = ParseDotted(event.peerAddress);
  if (!address) return;
  try {
    http::TNetHTTP client;
    client.SetConnectTimeout(limits_.notifyConnectMs);
    client.SetReadTimeout(limits_.notifyTotalMs);
    client.SetSendTimeout(limits_.notifyTotalMs);
    client.SetReadDeadline(http::TNetTCPConnection::Clock::now() +
                           std::chrono::milliseconds(limits_.notifyTotalMs));
    client.SetAbortSource([this] { return abort_.load(); });
    client.SetMaxBodyLength(kMaxNotifyAnswerBytes);
    client.OnCheckEndpoint = [&address](const net::Endpoint& e) {
      return std::equal(address->begin(), address->end(), e.address);
    };
    http::TNetHTTPRequest& r = client.Request();
    r.SetContentType("text/xml; charset=\"utf-8\"");
    r.SetAccept("");
    r.SetUserAgent("");
    r.CustomHeaders().Add("NT: upnp:event");
    r.CustomHeaders().Add("NTS: upnp:propchange");
    r.CustomHeaders().Add("SID: " + event.sid);
    r.CustomHeaders().Add("SEQ: 0");
    http::TStringStream body;
    body.Write(event.body.data(), event.body.size());
    std::string answer;
    client.DoRequest(http::TNetHTTPMethod::hmNotify, event.callbackUrl, &body, answer);
  } catch (const std::exception&) {
    // A subscriber that does not take its event keeps its subscription (it may renew and
    // browse all the same); nothing is sent again.
  }
}

}  // namespace tovi::dlna

#include "dlna/eventing.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <map>

#include "dlna/xml.h"
#include "http/client/http_client.h"
#include "http/header_list.h"
#include "http/stream.h"
#include "platform/random.h"

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

// A version 4 UUID whose 122 random bits come from the system's source.
std::string NewSid() {
  std::array<std::uint8_t, 16> bytes{};
  machine::FillRandom(bytes);
  bytes[6] = static_cast<std::uint8_t>(0x40 | (bytes[6] & 0x0F));  // version 4: random
  bytes[8] = static_cast<std::uint8_t>(0x80 | (bytes[8] & 0x3F));  // the RFC 4122 variant
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "uuid:";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0xF];
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

EventPublisher::EventPublisher(EventedStateReader state, EventingLimits limits)
    : state_(std::move(state)), limits_(limits) {}

EventPublisher::~EventPublisher() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  abort_ = true;
  queued_.notify_all();
  for (std::thread& sender : senders_) sender.join();
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

void EventPublisher::MakeRoom(const std::string& address) {
  std::map<std::string, std::size_t> held;
  for (const Subscription& s : subscriptions_) ++held[s.address];
  std::string giver = address;
  if (held[address] < limits_.maxPerAddress) {
    if (subscriptions_.size() < limits_.maxSubscriptions) return;
    giver = std::max_element(held.begin(), held.end(), [](const auto& a, const auto& b) {
              return a.second < b.second;
            })->first;
  }
  auto oldest = subscriptions_.end();
  for (auto it = subscriptions_.begin(); it != subscriptions_.end(); ++it) {
    if (it->address == giver && (oldest == subscriptions_.end() || it->expires < oldest->expires))
      oldest = it;
  }
  if (oldest != subscriptions_.end()) subscriptions_.erase(oldest);
}

bool EventPublisher::Holds(const std::string& sid) const {
  return std::any_of(subscriptions_.begin(), subscriptions_.end(),
                     [&](const Subscription& s) { return s.sid == sid; });
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
  Subscription added{NewSid(), &service, peer,
                     Clock::now() + std::chrono::seconds(limits_.termSeconds)};
  {
    std::lock_guard<std::mutex> guard(lock_);
    DropExpired(Clock::now());
    MakeRoom(peer);
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
    if (stopping_ || QueuedEvents() >= limits_.maxQueuedEvents) return;
    auto box = std::find_if(outboxes_.begin(), outboxes_.end(),
                            [&](const Outbox& o) { return o.address == event.peerAddress; });
    if (box == outboxes_.end()) {
      box = outboxes_.insert(outboxes_.end(), Outbox{event.peerAddress, {}, false});
    }
    // Events of ended subscriptions go now: those waiting are at most the address's subscriptions.
    std::erase_if(box->events, [this](const Event& e) { return !Holds(e.sid); });
    if (box->events.size() >= limits_.maxQueuedPerAddress) return;
    box->events.push_back(std::move(event));
    if (senders_.size() < std::min(limits_.maxSenders, outboxes_.size())) {
      senders_.emplace_back([this] { SendEvents(); });
    }
  }
  queued_.notify_all();
}

std::size_t EventPublisher::QueuedEvents() const {
  std::size_t count = 0;
  for (const Outbox& box : outboxes_) count += box.events.size();
  return count;
}

EventPublisher::Outboxes::iterator EventPublisher::NextTurn(Clock::time_point now,
                                                            Clock::time_point* next) {
  *next = Clock::time_point::max();
  for (auto box = outboxes_.begin(); box != outboxes_.end();) {
    if (box->sending) {
      ++box;
      continue;
    }
    while (!box->events.empty() && !Holds(box->events.front().sid)) box->events.pop_front();
    if (box->events.empty()) {
      box = outboxes_.erase(box);
      continue;
    }
    if (box->events.front().sendAt <= now) return box;
    *next = std::min(*next, box->events.front().sendAt);
    ++box;
  }
  return outboxes_.end();
}

void EventPublisher::SendEvents() {
  std::unique_lock<std::mutex> lock(lock_);
  while (!stopping_) {
    Clock::time_point next;
    const auto box = NextTurn(Clock::now(), &next);
    if (box == outboxes_.end()) {
      if (next == Clock::time_point::max()) {
        queued_.wait(lock);
      } else {
        queued_.wait_until(lock, next);
      }
      continue;
    }
    const Event event = std::move(box->events.front());
    box->events.pop_front();
    box->sending = true;
    // Its next turn comes after every other address's.
    outboxes_.splice(outboxes_.end(), outboxes_, box);
    lock.unlock();
    Send(event);
    lock.lock();
    box->sending = false;
    if (box->events.empty()) outboxes_.erase(box);
    queued_.notify_all();
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

// Event subscriptions of the three services (UPnP eventing, GENA): SUBSCRIBE makes one (SID
// "uuid:...", TIMEOUT "Second-<term>") or renews it, UNSUBSCRIBE ends it, and a new one gets
// its initial event, the service's evented state variables, as a NOTIFY to its CALLBACK URL.
// Only that first event is sent: what we publish does not change while the server runs.
//
// Answers: 200 with SID and TIMEOUT; 412 for a SID we do not hold, a missing or wrong NT, or a
// CALLBACK with no URL we may call; 400 for SID given together with NT or CALLBACK.
// A NOTIFY goes only to the subscriber's own address (the CALLBACK's host must be the very
// address the SUBSCRIBE came from): a subscription cannot make us call any other machine.
// It is sent by a sender thread of the publisher's own, initialEventDelayMs after the
// SUBSCRIBE's answer is on the wire, so a slow subscriber never holds a connection thread up.
// SIDs are 128 bits from the system's random source: a device cannot guess another's.
//
// Each device has its share, so that one cannot evict or starve another: the subscriptions
// made from one address (at its bound its own least recently renewed one gives way; a full
// table takes one from the address holding the most), the events waiting for one callback
// address (one per subscription it holds; beyond: dropped), and at most one NOTIFY in flight
// per callback address, the addresses taking turns at a few senders: a callback that never
// answers holds up its own events and one sender (as many such addresses as senders make the
// others wait for their turn, notifyTotalMs each). An event whose subscription has ended
// meanwhile is not sent, nor kept waiting.
//
// Bounds (EventingLimits): the subscriptions held in all and per address, their term, the
// events waiting in all and per callback address, the sender threads, the CALLBACK's length,
// the time one NOTIFY may take, and so the time the destructor waits for the senders.
// Thread safety: Handle runs on connection threads, several at once; the table is locked.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dlna/device.h"
#include "http/server/http_server.h"

namespace tovi::dlna {

struct EventingLimits {
  int termSeconds = 1800;              // every subscription's TIMEOUT, whatever was asked
  std::size_t maxSubscriptions = 64;   // a few renderers, three services each, with room
  std::size_t maxPerAddress = 8;       // one device's share: its three services twice, with room
  std::size_t maxQueuedEvents = 64;    // initial events waiting for the senders, in all
  std::size_t maxQueuedPerAddress = 8; // one callback address's share: one per subscription
  std::size_t maxSenders = 4;          // threads, each with one address's NOTIFY in flight
  std::size_t maxCallbackBytes = 1024; // one CALLBACK URL
  int notifyConnectMs = 2000;          // a subscriber on the home network answers at once
  int notifyTotalMs = 5000;            // one NOTIFY from connect to its answer
  int initialEventDelayMs = 500;       // after the answer, for the subscriber to read its SID
};

// A service's evented state variables with their values now, in order.
using EventedStateReader = std::function<std::vector<std::pair<std::string, std::string>>(
    const ServiceUrls& service)>;

class EventPublisher {
 public:
  // state: asked on the connection thread when a subscription is made.
  EventPublisher(EventedStateReader state, EventingLimits limits = {});
  // Ends the senders: the events being sent are aborted, those waiting are dropped.
  ~EventPublisher();
  EventPublisher(const EventPublisher&) = delete;
  EventPublisher& operator=(const EventPublisher&) = delete;

  // A SUBSCRIBE or UNSUBSCRIBE to service's event URL. Leaves the answer in response, or, for
  // a new subscription, sends it itself before the initial event is queued.
  void Handle(const ServiceUrls& service, http::TNetHTTPRequestInfo& request,
              http::TNetHTTPResponseInfo& response);

  // Subscriptions held now (expired ones left out).
  std::size_t Count();

 private:
  using Clock = std::chrono::steady_clock;
  struct Subscription {
    std::string sid;
    const ServiceUrls* service;
    std::string address;  // the SUBSCRIBE's peer
    Clock::time_point expires;
  };
  struct Event {
    std::string callbackUrl;
    std::string peerAddress;
    std::string sid;
    std::string body;
    Clock::time_point sendAt;  // not before: see initialEventDelayMs
  };
  // One callback address's events, in the order they came.
  struct Outbox {
    std::string address;
    std::deque<Event> events;
    bool sending = false;  // a sender has this address's NOTIFY in flight
  };
  using Outboxes = std::list<Outbox>;

  void Subscribe(const ServiceUrls& service, http::TNetHTTPRequestInfo& request,
                 http::TNetHTTPResponseInfo& response);
  void Renew(const ServiceUrls& service, const std::string& sid,
             http::TNetHTTPResponseInfo& response);
  void Unsubscribe(const ServiceUrls& service, const std::string& sid,
                   http::TNetHTTPResponseInfo& response);
  void AnswerSubscription(const std::string& sid, http::TNetHTTPResponseInfo& response) const;
  // Under lock_: drops expired subscriptions.
  void DropExpired(Clock::time_point now);
  // Under lock_: frees a place for a subscription from address (see the header's opening).
  void MakeRoom(const std::string& address);
  bool Holds(const std::string& sid) const;
  void Queue(Event event);
  std::size_t QueuedEvents() const;
  // Under lock_: the first outbox in turn whose next event is due, dropping events of ended
  // subscriptions; outboxes_.end() when none is, with *next the earliest time one will be.
  Outboxes::iterator NextTurn(Clock::time_point now, Clock::time_point* next);
  void SendEvents();
  void Send(const Event& event);

  EventedStateReader state_;
  EventingLimits limits_;
  std::mutex lock_;
  std::vector<Subscription> subscriptions_;
  Outboxes outboxes_;                // in turn order: the front's turn comes first
  std::condition_variable queued_;
  bool stopping_ = false;
  std::atomic<bool> abort_{false};   // read by the senders' clients at every wait
  std::vector<std::thread> senders_; // started as outboxes need them, up to maxSenders
};

}  // namespace tovi::dlna

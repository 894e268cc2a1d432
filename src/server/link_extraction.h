// "/parserlink": fetch a page through the PC with a desktop browser's identity and cut the text
// between two pattern markers. The fetch is bounded so a slow or endless page cannot hold a
// connection thread or its memory: a time limit on the connect, on every silence and on the
// whole fetch, a most bytes kept of the body (what arrived by then is the page, as for a broken
// transfer), and a most pages held at once, of them a most for one peer address (SharedRoom).
// A device has the PC fetch only what it could reach itself (PageReach, FetchAllowed): services
// on the PC trust it alone, and the networks only the PC is on (a VPN's, link-local, overlays)
// and the router's pages, which are apt to trust the PC by its address, are not the device's.
// Thread safety: every fetch uses its own client and matcher; SharedRoom is shared and locked.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/address.h"
#include "platform/name_lookup.h"
#include "platform/socket.h"

namespace tovi::server {

struct PageFetchLimits {
  int timeoutMs = 30000;                    // connect, and each wait for the next bytes
  int totalTimeoutMs = 60000;               // the whole fetch: a trickling page ends here
  std::int64_t maxBodyBytes = 32ll << 20;   // kept of the body; reading stops there
  int maxPagesAtOnce = 4;                   // being fetched and cut: 4 x 32 MiB at most
  // Of those, one peer address's: a quarter, as its share of the served turns, so that one
  // device's slow pages or answers that wait for room never hold another device's slot.
  int maxPagesPerPeer = 1;
  int slotWaitMs = 10000;                   // a further request waits this long, then gets "err"
};

// True once nobody waits for the answer any more (the server is switching off).
using Abandoned = std::function<bool()>;

// Waits on changed (with lock held) until ready(), at most waitMs, in slices so that abandoned is
// noticed; false when the time ran out or nobody waits any more. The waits for a page slot and
// for an answer's room.
bool WaitWhileAbandonable(std::unique_lock<std::mutex>& lock, std::condition_variable& changed,
                          int waitMs, const Abandoned& abandoned, const std::function<bool()>& ready);

// Who asks for a page, and so which addresses a fetch for it may connect to.
struct PageReach {
  bool fromPc = false;                     // the PC itself: every address
  std::vector<std::uint32_t> pcAddresses;  // the PC's own on every adapter, host byte order
  std::vector<std::uint32_t> gateways;     // the routers of the PC's default routes
  std::uint32_t servedNetwork = 0;         // the served adapter's network and its mask; mask 0:
  std::uint32_t servedMask = 0;            //   none known, a device gets public pages only
};

// The PC's side of a reach, as the system lists it.
struct PcNetworks {
  std::vector<net::Adapter> adapters;
  std::vector<std::uint32_t> gateways;  // of the default routes, host byte order
  std::uint32_t servedMask = 0;         // of the served address's network; 0: no adapter holds it
};

// The reach of the peer at peerAddress (dotted): the PC itself when that is a loopback address or
// one of the PC's own, else a device on the network of servedAddress (dotted).
PageReach ReachOf(const std::string& peerAddress, const std::string& servedAddress,
                  const PcNetworks& pc);
// ReachOf with the system's adapters as they are now.
PageReach SystemReachOf(const std::string& peerAddress, const std::string& servedAddress);

// Whether a fetch may connect to target: the PC anywhere; a device to a public unicast address,
// or to a host of the served network that is neither the PC nor a router of its.
bool FetchAllowed(const PageReach& reach, const net::Endpoint& target);

// The page's body as bytes, unconverted; every failure is swallowed: "" for an error status, a
// redirect or no connection, the bytes received so far when the transfer broke off, hit a limit
// or was abandoned. The limits and abandoned end the fetch wherever it is: the name lookup
// (lookup, the system's when empty), the connect, every wait and the reading of what arrived.
// *refused (when given) tells a page that failed from one that was never asked for: a URL that
// cannot be sent without breaking the request's lines (a host holding control bytes or blanks),
// or an address out of reach (FetchAllowed, decided on the address the URL's host resolved to).
std::string FetchPage(const std::string& url, const PageFetchLimits& limits,
                      const PageReach& reach, const Abandoned& abandoned = {},
                      bool* refused = nullptr, const net::NameLookup& lookup = {});

// Room of a size shared by peer addresses, each at most a share of it; what is taken is held
// until the Held returned for it goes. The page slots (one each, from the fetch until the cut is
// done) and the room of the answers being sent (their bytes).
class SharedRoom {
 public:
  // A part of the room while it lives (empty: none was had).
  class Held {
   public:
    Held() = default;
    Held(SharedRoom* owner, std::string peer, std::int64_t amount)
        : owner_(owner), peer_(std::move(peer)), amount_(amount) {}
    Held(Held&& other) noexcept
        : owner_(std::exchange(other.owner_, nullptr)), peer_(std::move(other.peer_)),
          amount_(other.amount_) {}
    Held& operator=(Held&&) = delete;
    ~Held() {
      if (owner_) owner_->Give(peer_, amount_);
    }
    explicit operator bool() const { return owner_ != nullptr; }

   private:
    SharedRoom* owner_ = nullptr;
    std::string peer_;
    std::int64_t amount_ = 0;
  };

  // perPeer: what one peer address may hold at once (0 or more than size: all of it).
  SharedRoom(std::int64_t size, std::int64_t perPeer)
      : free_(size), share_(perPeer > 0 && perPeer < size ? perPeer : size) {}
  // Waits up to waitMs for amount within peer's share; empty when it did not come in time, when
  // abandoned() turned true, or at once when amount is more than a share.
  Held Take(const std::string& peer, std::int64_t amount, int waitMs, const Abandoned& abandoned);

 private:
  void Give(const std::string& peer, std::int64_t amount);

  std::mutex lock_;
  std::condition_variable given_;
  std::int64_t free_;
  const std::int64_t share_;
  std::unordered_map<std::string, std::int64_t> heldBy_;  // peers holding some, and how much
};

enum class CutOutcome { Found, NotFound, Failed };

// Matches start + "(.*?)" + end (the markers are pattern text, not escaped) once from the start
// of page; Found puts group 1 into *text. Failed: the matcher raised (a broken pattern, or a
// search over its step budget).
CutOutcome CutBetween(std::string page, const std::string& start, const std::string& end,
                      std::string* text);

}  // namespace tovi::server

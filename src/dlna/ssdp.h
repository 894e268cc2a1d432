// Discovery's datagrams (SSDP, UPnP Device Architecture 1.1 section 1), pure: what the device
// announces, which searches it answers and how late, and the text of each message it sends.
// A datagram that is not a well-formed search of the kind below is ignored (never an error):
// the group carries every device's and control point's chatter, our own announcements included.
// No I/O, no state: safe from any thread.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dlna/identity.h"

namespace tovi::dlna::ssdp {

inline constexpr std::uint16_t kPort = 1900;
inline constexpr std::uint8_t kGroupAddress[4] = {239, 255, 255, 250};
inline constexpr const char* kGroupHost = "239.255.255.250:1900";
// How long a control point may keep us listed without hearing from us again.
inline constexpr int kMaxAgeSeconds = 1800;
// The longest a search may ask us to spread our answers over (MX); larger values count as this.
inline constexpr int kMaxSearchDelaySeconds = 5;
// The longest we wait before answering a search sent to our own address (it has no MX).
inline constexpr int kUnicastSearchDelaySeconds = 1;

// One thing the device announces and answers for: the root device, the device's UUID, its type,
// each service's type.
struct Target {
  std::string nt;   // the notification / search type
  std::string usn;  // the unique service name: the UDN, or the UDN "::" the type
};

// Every target of a device, in the order announcements go out.
std::vector<Target> DeviceTargets(const DeviceIdentity& identity);

// A search that deserves answers: those targets, each after its own random delay of up to
// maxDelayMs (0: at once).
struct SearchAnswers {
  std::vector<Target> targets;
  int maxDelayMs = 0;
  bool everything = false;  // it searched for everything (ssdp:all), the costliest to answer
};

// Reads a datagram as an M-SEARCH: the request line "M-SEARCH * HTTP/1.x", MAN "ssdp:discover",
// and an ST of ssdp:all, upnp:rootdevice, the device's UDN, its type or one of its services'
// types. One sent to the group must carry an MX of whole seconds (capped at
// kMaxSearchDelaySeconds); one sent to our own address (its HOST is not the group's) is answered
// within kUnicastSearchDelaySeconds. Anything else, any malformed or duplicated header line: none.
std::optional<SearchAnswers> AnswerSearch(std::string_view datagram, const DeviceIdentity& identity);

// Where the device describes itself and what it calls itself in headers.
struct Origin {
  std::string location;  // the description's absolute URL
  std::string server;    // the SERVER header (dlna::ServerProduct())
};

// NOTIFY ssdp:alive for one target, to the group.
std::string AliveMessage(const Target& target, const Origin& origin);
// NOTIFY ssdp:byebye for one target, to the group.
std::string ByebyeMessage(const Target& target);
// The answer to a search for one target (ST: the target's type), sent to the searcher. `date`
// is the HTTP date of now.
std::string SearchResponse(const Target& target, const Origin& origin, const std::string& date);

}  // namespace tovi::dlna::ssdp

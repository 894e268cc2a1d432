// Discovery on one adapter: while running, the device is announced on the home network's
// discovery group (three times at start, again well within the announcements' lifetime) and
// searches heard there are answered, each answer sent straight to the searcher after a random
// delay within what it allowed; at Stop the device says goodbye. Only searches that came in on
// that adapter from an address of its own network are answered (never one off the link, which
// could be a forged sender we would be turned against), each searcher within its share. One thread of its own does all
// of it; the socket shares port 1900 with the system's own listener and any other program.
// Bounds: SsdpLimits. Start and Stop from one thread (the owner's); Stop is bounded in time.
#pragma once
#include <atomic>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "dlna/identity.h"

namespace tovi::dlna {

// Discovery could not start at that address: "Discovery port 1900 at <address>: socket error
// <code>" (the port held exclusively by another program, or the address on no adapter), or
// "Discovery address is not an IPv4 address: <address>".
class SsdpError : public std::runtime_error {
 public:
  explicit SsdpError(const std::string& message) : std::runtime_error(message) {}
};

// Every bound a peer (or the network) can push against, with why; tests may shrink them.
struct SsdpLimits {
  // A longer datagram is not a search of any real control point (those are a few hundred
  // bytes): it is dropped unread, and no more than this is ever held.
  std::size_t maxDatagramBytes = 4096;
  // Answers sent per second, all searchers together: a flood of searches gets no more than this
  // from us. One search for everything takes six; later searches in a full second are ignored.
  // Since no answer waits more than the longest search delay, no more than 5 s of them are ever
  // pending.
  int maxAnswersPerSecond = 60;
  // Answers a second to one searcher's address (two searches for everything): one device's
  // flood uses up its own share, not the others'.
  int maxAnswersPerSearcherPerSecond = 12;
  // Answers a second to searches for everything, all searchers together: the rest of the total
  // stays for searches of our own type, which a TV sends, whoever floods with the others.
  int maxEverythingAnswersPerSecond = 36;
  // Searchers' addresses remembered within a second (a home network's devices many times over);
  // a search from one more waits for the next second.
  std::size_t maxSearchersPerSecond = 256;
  // Announcements at start and at each renewal: this many rounds, this far apart (multicast
  // datagrams get lost; one round may not arrive).
  int announceRounds = 3;
  int announceSpacingMs = 150;
  // Renewal: a third of the announcements' lifetime (1800 s), so that two more may be lost
  // before a control point forgets us.
  int renewMs = 600 * 1000;
  // How long the thread rests after its socket failed (the adapter went away) before it receives
  // again, so that a failing socket does not spin. (Stop wakes it without waiting.)
  int failedReceivePauseMs = 100;
};

class SsdpService {
 public:
  explicit SsdpService(SsdpLimits limits = {});
  ~SsdpService();  // Stop()
  SsdpService(const SsdpService&) = delete;
  SsdpService& operator=(const SsdpService&) = delete;

  // Starts announcing the device described at descriptionUrl (http://address:8027/?dlna/
  // device.xml) on the adapter whose IPv4 address is `address` (dotted), and answering searches
  // heard there. Running already (e.g. at another address): stops first (with its goodbye), so
  // Start is also how discovery follows a new address. Throws SsdpError when the port cannot be
  // opened or the group joined there, or no adapter holds the address; nothing runs then.
  void Start(const std::string& address, const std::string& descriptionUrl,
             const DeviceIdentity& identity);
  // Says goodbye on the group and ends the thread: it is woken, so this returns once the goodbye
  // is sent (or within SsdpLimits::failedReceivePauseMs when its socket failed). Does nothing when
  // not running.
  void Stop();
  bool Running() const { return thread_.joinable(); }
  // Whether the adapter holding its address is still the one it joined the group on: an
  // adapter made again with the same address (a USB adapter plugged in again, a bridge made
  // anew) is another to the system, and the membership went with the old one. True when not
  // running.
  bool OnItsAdapter() const;

 private:
  struct Run;
  void Loop(Run& run);

  const SsdpLimits limits_;
  std::unique_ptr<Run> run_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace tovi::dlna

// Presence registration: tells the list service the PC's address whenever it differs from the
// one last sent. Attempts are never retried and never reported: a failed send still counts as
// sent, so the service hears again only after the address changes.
// Not thread-safe: one instance, driven from the GUI thread (start-up, timer, button).
#pragma once
#include <functional>
#include <string>

#include "remote/service.h"

namespace tovi::remote {

class PresenceRegistration {
 public:
  using AddressSource = std::function<std::string()>;    // fresh lookup, "" when it fails
  using Trace = std::function<void(const std::string&)>;  // the window's trace text

  // lastSentAddress is the caller's record of the last attempt ("" at program start); it must
  // outlive this object.
  PresenceRegistration(std::string& lastSentAddress, AddressSource localAddress,
                       Transport transport, Trace trace);

  // One registration step: sends a GET to the list service host when the address changed, and
  // records the address it sent. Swallows every failure of the request.
  void Step(const std::string& serviceVersion);

 private:
  std::string& lastSentAddress_;
  AddressSource localAddress_;
  Transport transport_;
  Trace trace_;
};

}  // namespace tovi::remote

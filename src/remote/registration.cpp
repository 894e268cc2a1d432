#include "remote/registration.h"

#include <utility>

#include "http/client/browser_identity.h"
#include "remote/service_hosts.h"

namespace tovi::remote {

namespace {
// LF then CR: the program's own line break for trace texts.
constexpr const char* kSendTrace = "New send\n\r";
}  // namespace

PresenceRegistration::PresenceRegistration(std::string& lastSentAddress,
                                           AddressSource localAddress, Transport transport,
                                           Trace trace)
    : lastSentAddress_(lastSentAddress),
      localAddress_(std::move(localAddress)),
      transport_(std::move(transport)),
      trace_(std::move(trace)) {}

void PresenceRegistration::Step(const std::string& serviceVersion) {
  if (localAddress_() == lastSentAddress_) return;
  const std::string address = localAddress_();
  const std::string url =
      RegistrationUrl(CurrentServiceHosts().listService, serviceVersion, address);
  if (trace_) trace_(kSendTrace);
  try {
    // The service answers browsers only; the uploads keep the client's own identity.
    transport_.get(url, http::kBrowserUserAgent);
  } catch (...) {
    // The service is a convenience for the TVs; the timer must stay silent when it is away.
  }
  // What was sent, not a fresh lookup: an address that changed during the request is still due.
  lastSentAddress_ = address;
}

}  // namespace tovi::remote

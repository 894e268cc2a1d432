#include "server/link_extraction.h"

#include <exception>

#include "http/client/http_client.h"
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
                      const std::string& peerAddress) {
  std::string page;
  try {
    http::TNetHTTP client;
    client.OnCheckEndpoint = [&peerAddress](const net::Endpoint& target) {
      return FetchAllowed(peerAddress, target);
    };
    client.Request().SetUserAgent(kBrowserIdentity);
    client.SetReadTimeout(limits.timeoutMs);
    client.SetMaxBodyLength(limits.maxBodyBytes);
    client.Get(url, page);
  } catch (const std::exception&) {
    // Whatever arrived is the page; an unreachable page is an empty one.
  }
  return page;
}

CutOutcome CutBetween(const std::string& page, const std::string& start, const std::string& end,
                      std::string* text) {
  try {
    TPattern pattern;
    pattern.SetInputString(page);
    pattern.SetExpression(start + "(.*?)" + end);
    if (!pattern.Exec()) return CutOutcome::NotFound;
    *text = pattern.GroupText(1);
    return CutOutcome::Found;
  } catch (const std::exception&) {
    return CutOutcome::Failed;
  }
}

}  // namespace tovi::server

#include "server/link_extraction.h"

#include <exception>

#include "http/client/http_client.h"
#include "regex/pattern.h"

namespace tovi::server {

std::string FetchPage(const std::string& url, const PageFetchLimits& limits) {
  std::string page;
  try {
    http::TNetHTTP client;
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

#include "http/client/cookies.h"

#include <cstdint>
#include <optional>
#include <vector>

#include "http/client/wire.h"
#include "http/header_list.h"
#include "http/header_values.h"

namespace tovi::http {

void TNetCookieManager::AddServerCookie(const std::string& setCookie, const std::string& host,
                                        const std::string& path) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= setCookie.size()) {
    std::size_t semi = setCookie.find(';', start);
    if (semi == std::string::npos) semi = setCookie.size();
    pieces.push_back(Trim(setCookie.substr(start, semi - start)));
    start = semi + 1;
  }
  const std::size_t eq = pieces[0].find('=');
  if (eq == std::string::npos || eq == 0) return;
  Cookie c;
  c.name = Trim(pieces[0].substr(0, eq));
  c.value = Trim(pieces[0].substr(eq + 1));
  if (!IsHeaderValueSafe(c.name) || !IsHeaderValueSafe(c.value)) return;
  c.domain = LowerCase(host);
  c.path = path.empty() ? "/" : path;
  bool expired = false;
  for (std::size_t i = 1; i < pieces.size(); ++i) {
    const std::size_t e = pieces[i].find('=');
    const std::string name = Trim(pieces[i].substr(0, e));
    const std::string value = e == std::string::npos ? "" : Trim(pieces[i].substr(e + 1));
    if (SameText(name, "Domain") && !value.empty()) {
      std::string domain = LowerCase(value[0] == '.' ? value.substr(1) : value);
      const std::string lowHost = LowerCase(host);
      const bool matches = lowHost == domain ||
                           (lowHost.size() > domain.size() &&
                            lowHost.compare(lowHost.size() - domain.size(), domain.size(), domain) == 0 &&
                            lowHost[lowHost.size() - domain.size() - 1] == '.');
      if (!matches) return;  // a server may not set cookies for other hosts
      c.domain = domain;
      c.hostOnly = false;
    } else if (SameText(name, "Path") && !value.empty() && value[0] == '/') {
      c.path = value;
    } else if (SameText(name, "Max-Age")) {
      const std::optional<std::int32_t> age = ParseInt32(value);
      if (age && *age <= 0) expired = true;
    }
  }
  std::string key = KeyOf(c);
  const auto old = byKey_.find(key);
  if (old != byKey_.end()) Forget(old->second);
  if (expired) return;
  if (cookies_.size() >= kMaxCookies) Forget(cookies_.begin());
  cookies_.push_back(std::move(c));
  byKey_.emplace(std::move(key), std::prev(cookies_.end()));
}

std::string TNetCookieManager::KeyOf(const Cookie& c) {
  // Neither a kept name nor a domain holds a NUL, so the key tells the three parts apart.
  std::string key = c.name;
  key += '\0';
  key += c.domain;
  key += '\0';
  key += c.path;
  return key;
}

void TNetCookieManager::Forget(std::list<Cookie>::iterator at) {
  byKey_.erase(KeyOf(*at));
  cookies_.erase(at);
}

std::string TNetCookieManager::CookieHeader(const std::string& host,
                                            const std::string& path) const {
  const std::string lowHost = LowerCase(host);
  std::string out;
  for (const Cookie& c : cookies_) {
    bool hostMatches = lowHost == c.domain;
    if (!hostMatches && !c.hostOnly && lowHost.size() > c.domain.size())
      hostMatches = lowHost.compare(lowHost.size() - c.domain.size(), c.domain.size(), c.domain) == 0 &&
                    lowHost[lowHost.size() - c.domain.size() - 1] == '.';
    const bool pathMatches = path.compare(0, c.path.size(), c.path) == 0 &&
                             (path.size() == c.path.size() || c.path.back() == '/' ||
                              path[c.path.size()] == '/');
    if (!hostMatches || !pathMatches) continue;
    if (!out.empty()) out += "; ";
    out += c.name + "=" + c.value;
  }
  return out;
}

}  // namespace tovi::http

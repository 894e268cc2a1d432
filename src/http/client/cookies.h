// TNetCookieManager: the client's cookie store. Cookies a server set, kept per client object and
// sent back to matching hosts and paths, in the order they were set.
// Bounds: at most kMaxCookies cookies; setting one costs its own length whatever the store holds.
// Thread safety: none; a store belongs to its client's thread.
#pragma once
#include <cstddef>
#include <list>
#include <string>
#include <unordered_map>

namespace tovi::http {

class TNetCookieManager {
 public:
  // The most cookies kept (the least RFC 6265 asks a client to keep); a further one makes the
  // oldest go.
  static constexpr std::size_t kMaxCookies = 3000;

  // A "Set-Cookie" value received from host for a request to path. A name or value holding a
  // control byte (they would go back on a header line) is ignored, as browsers do.
  void AddServerCookie(const std::string& setCookie, const std::string& host,
                       const std::string& path);
  // "a=1; b=2" for a request to host and path; "" when none matches.
  std::string CookieHeader(const std::string& host, const std::string& path) const;
  std::size_t Count() const { return cookies_.size(); }

 private:
  struct Cookie {
    std::string name, value, domain, path;
    bool hostOnly = true;
  };
  // Name, domain and path: one cookie per key, a new one replaces the old.
  static std::string KeyOf(const Cookie& c);
  void Forget(std::list<Cookie>::iterator at);

  std::list<Cookie> cookies_;
  std::unordered_map<std::string, std::list<Cookie>::iterator> byKey_;
};

}  // namespace tovi::http

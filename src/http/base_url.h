// Where an HTTP server is reached, as the base its URLs are made on: "http://" and the
// authority. The media server's own URLs, the resource URLs of the DLNA answers and the URLs
// that go out in headers all start here. Pure; safe from any thread.
#pragma once
#include <string>
#include <string_view>

namespace tovi::http {

// "host:port"; an IPv6 address goes in brackets ("[::1]:8027").
std::string Authority(std::string_view host, int port);
// "http://" + authority ("host[:port]", as a Host header names it).
std::string BaseUrl(std::string_view authority);
// "http://host:port".
std::string BaseUrl(std::string_view host, int port);

}  // namespace tovi::http

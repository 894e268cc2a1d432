#include "http/base_url.h"

namespace tovi::http {

std::string Authority(std::string_view host, int port) {
  const bool ipv6 = host.find(':') != std::string_view::npos && host.front() != '[';
  const std::string name = ipv6 ? "[" + std::string(host) + "]" : std::string(host);
  return name + ":" + std::to_string(port);
}

std::string BaseUrl(std::string_view authority) { return "http://" + std::string(authority); }

std::string BaseUrl(std::string_view host, int port) { return BaseUrl(Authority(host, port)); }

}  // namespace tovi::http

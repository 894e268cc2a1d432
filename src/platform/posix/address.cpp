#include "platform/address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/posix/host_address.h"

namespace tovi::net {

namespace {

bool IsLoopback(std::uint32_t address) { return (address >> 24) == 127; }

std::string Dotted(std::uint32_t address) {
  in_addr a{};
  a.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &a, text, sizeof text) != nullptr ? text : "";
}

std::uint32_t HostOrder(const sockaddr* address) {
  return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

std::vector<std::uint32_t> NameAddresses() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0) return {};
  std::vector<std::uint32_t> found;
  for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) found.push_back(HostOrder(ai->ai_addr));
  freeaddrinfo(list);
  return found;
}

std::vector<InterfaceAddress> InterfaceAddresses() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::vector<InterfaceAddress> found;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    found.push_back({HostOrder(i->ifa_addr), (i->ifa_flags & IFF_UP) != 0,
                     (i->ifa_flags & IFF_LOOPBACK) != 0});
  }
  freeifaddrs(list);
  return found;
}

}  // namespace

std::string ChooseHostAddress(const std::vector<std::uint32_t>& nameAddresses,
                              const std::vector<InterfaceAddress>& interfaces) {
  for (std::uint32_t a : nameAddresses) {
    if (!IsLoopback(a)) return Dotted(a);
  }
  for (const InterfaceAddress& i : interfaces) {
    if (i.up && !i.loopback && !IsLoopback(i.address)) return Dotted(i.address);
  }
  return "";
}

std::string HostIPv4Address() {
  const std::string byName = ChooseHostAddress(NameAddresses(), {});
  return byName.empty() ? ChooseHostAddress({}, InterfaceAddresses()) : byName;
}

}  // namespace tovi::net

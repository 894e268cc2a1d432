// getifaddrs for the interfaces and their addresses, /proc/net/route for the default routes,
// /sys/class/net/<name> for what kind of device each is.
#include "platform/address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace tovi::net {

namespace {

bool IsLoopback(std::uint32_t address) { return (address >> 24) == 127; }

std::uint32_t HostOrder(const sockaddr* address) {
  return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

std::string ReadSmallFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// The device's kind as sysfs tells it: the link type, the DEVTYPE line of its uevent, tun_flags
// for tun and tap devices.
AdapterKind KindOf(const std::string& name) {
  const std::string folder = "/sys/class/net/" + name + "/";
  if (Exists(folder + "tun_flags")) return AdapterKind::Tunnel;
  const std::string uevent = ReadSmallFile(folder + "uevent");
  const std::size_t at = uevent.find("DEVTYPE=");
  if (at != std::string::npos) {
    const std::string type = uevent.substr(at + 8, uevent.find('\n', at) - at - 8);
    if (type == "bridge") return AdapterKind::Bridge;
    if (type == "wlan") return AdapterKind::Wireless;
    if (type == "wireguard" || type == "ppp") return AdapterKind::Tunnel;
  }
  const std::string type = ReadSmallFile(folder + "type");
  if (type.empty()) return AdapterKind::Unknown;
  switch (std::strtol(type.c_str(), nullptr, 10)) {
    case ARPHRD_ETHER: return AdapterKind::Unknown;  // a NIC, a veth, a VM's NIC alike
    case ARPHRD_LOOPBACK: return AdapterKind::Loopback;
    case ARPHRD_NONE: case ARPHRD_PPP: case ARPHRD_TUNNEL: case ARPHRD_SIT: case ARPHRD_IPGRE:
      return AdapterKind::Tunnel;
    default: return AdapterKind::Unknown;
  }
}

struct DefaultRoute {
  std::uint32_t metric = kNoMetric;
  std::uint32_t gateway = 0;  // host byte order
};

// Interface name -> its default route of the lowest metric (destination and mask 0, the
// gateway flag set). The file's lines are bounded by the kernel's routing table.
std::map<std::string, DefaultRoute> DefaultRoutes() {
  std::map<std::string, DefaultRoute> routes;
  std::ifstream table("/proc/net/route");
  std::string line;
  std::getline(table, line);  // the column titles
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string name, destination, gateway, flags, refs, use, metric, mask;
    if (!(fields >> name >> destination >> gateway >> flags >> refs >> use >> metric >> mask)) continue;
    constexpr unsigned long kRouteUp = 0x1, kRouteGateway = 0x2;
    const unsigned long f = std::strtoul(flags.c_str(), nullptr, 16);
    if (destination != "00000000" || mask != "00000000" || (f & kRouteUp) == 0 ||
        (f & kRouteGateway) == 0) {
      continue;
    }
    // The kernel prints the address as the number its bytes in network order make here.
    const DefaultRoute route{
        static_cast<std::uint32_t>(std::strtoul(metric.c_str(), nullptr, 10)),
        ntohl(static_cast<std::uint32_t>(std::strtoul(gateway.c_str(), nullptr, 16)))};
    auto [it, added] = routes.emplace(name, route);
    if (!added && route.metric < it->second.metric) it->second = route;
  }
  return routes;
}

}  // namespace

std::string DottedIPv4(std::uint32_t address) {
  in_addr a{};
  a.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &a, text, sizeof text) != nullptr ? text : "";
}

std::vector<Adapter> ListAdapters() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return {};
  std::vector<Adapter> adapters;
  for (ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (i->ifa_name == nullptr) continue;
    auto it = std::find_if(adapters.begin(), adapters.end(),
                           [&](const Adapter& a) { return a.id == i->ifa_name; });
    if (it == adapters.end()) {
      Adapter a;
      a.id = a.name = i->ifa_name;
      a.up = (i->ifa_flags & IFF_UP) != 0 && (i->ifa_flags & IFF_RUNNING) != 0;
      a.linkLost = (i->ifa_flags & IFF_UP) != 0 && !a.up;
      a.kind = (i->ifa_flags & IFF_LOOPBACK) != 0 ? AdapterKind::Loopback : KindOf(a.name);
      if ((i->ifa_flags & IFF_POINTOPOINT) != 0 && a.kind == AdapterKind::Unknown) {
        a.kind = AdapterKind::Tunnel;
      }
      adapters.push_back(a);
      it = adapters.end() - 1;
    }
    if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET) {
      it->ipv4.push_back(HostOrder(i->ifa_addr));
      it->masks.push_back(i->ifa_netmask != nullptr ? HostOrder(i->ifa_netmask) : 0);
    }
  }
  freeifaddrs(list);
  const std::map<std::string, DefaultRoute> routes = DefaultRoutes();
  for (Adapter& a : adapters) {
    const auto route = routes.find(a.id);
    if (route == routes.end()) continue;
    a.hasGateway = true;
    a.metric = route->second.metric;
    a.gateway = route->second.gateway;
  }
  return adapters;
}

std::vector<std::uint32_t> DefaultGateways() {
  std::vector<std::uint32_t> gateways;
  for (const auto& [name, route] : DefaultRoutes()) gateways.push_back(route.gateway);
  return gateways;
}

std::optional<AddressLink> LinkOfAddress(std::uint32_t address) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return std::nullopt;
  std::optional<AddressLink> link;
  for (ifaddrs* i = list; i != nullptr && !link; i = i->ifa_next) {
    if (i->ifa_name == nullptr || i->ifa_addr == nullptr || i->ifa_netmask == nullptr ||
        i->ifa_addr->sa_family != AF_INET || HostOrder(i->ifa_addr) != address) {
      continue;
    }
    const unsigned index = if_nametoindex(i->ifa_name);
    if (index != 0) link = AddressLink{index, HostOrder(i->ifa_netmask)};
  }
  freeifaddrs(list);
  return link;
}

std::string HostNameIPv4Address() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0) return "";
  std::string found;
  for (addrinfo* ai = list; ai != nullptr && found.empty(); ai = ai->ai_next) {
    const std::uint32_t a = HostOrder(ai->ai_addr);
    if (!IsLoopback(a)) found = DottedIPv4(a);
  }
  freeaddrinfo(list);
  return found;
}

}  // namespace tovi::net

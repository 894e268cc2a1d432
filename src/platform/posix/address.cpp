#include "platform/address.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tovi::net {

namespace {

bool IsLoopback(const in_addr& a) { return (ntohl(a.s_addr) >> 24) == 127; }

std::string Dotted(const in_addr& a) {
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &a, text, sizeof text) != nullptr ? text : "";
}

std::string FromHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &list) != 0) return "";
  std::string found;
  for (addrinfo* ai = list; ai != nullptr && found.empty(); ai = ai->ai_next) {
    const in_addr a = reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr;
    if (!IsLoopback(a)) found = Dotted(a);
  }
  freeaddrinfo(list);
  return found;
}

std::string FromInterfaces() {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string found;
  for (ifaddrs* i = list; i != nullptr && found.empty(); i = i->ifa_next) {
    if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
    if ((i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK) != 0) continue;
    const in_addr a = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
    if (!IsLoopback(a)) found = Dotted(a);
  }
  freeifaddrs(list);
  return found;
}

}  // namespace

std::string HostIPv4Address() {
  std::string address = FromHostName();
  if (address.empty()) address = FromInterfaces();
  return address;
}

}  // namespace tovi::net

// Windows Sockets 1.1 from wsock32, started and released around every lookup.
#include "platform/address.h"

#include <winsock.h>

namespace tovi::net {

std::string HostIPv4Address() {
  WSADATA data;
  if (WSAStartup(0x0101, &data) != 0) return "";
  std::string result;
  char name[128] = {};
  if (gethostname(name, sizeof name) == 0) {
    const hostent* host = gethostbyname(name);
    if (host != nullptr && host->h_addr_list != nullptr && host->h_addr_list[0] != nullptr) {
      in_addr a;
      a.s_addr = *reinterpret_cast<const u_long*>(host->h_addr_list[0]);
      result = inet_ntoa(a);
    }
  }
  WSACleanup();
  return result;
}

}  // namespace tovi::net

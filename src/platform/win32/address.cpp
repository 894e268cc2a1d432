// GetAdaptersAddresses (IP Helper) for the adapters; Windows Sockets 2, started and released
// around it, for the name lookup.
#include "platform/address.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <vector>

#include "platform/win32/wide.h"

namespace tovi::net {

namespace {

// The table grows between the size query and the call when an adapter comes meanwhile: a few
// tries, each with the size the last one asked for.
constexpr int kListTries = 4;
constexpr ULONG kFirstListBytes = 16 * 1024;

AdapterKind KindOf(IFTYPE type) {
  switch (type) {
    case IF_TYPE_ETHERNET_CSMACD: return AdapterKind::Ethernet;
    case IF_TYPE_IEEE80211: return AdapterKind::Wireless;
    case IF_TYPE_SOFTWARE_LOOPBACK: return AdapterKind::Loopback;
    case IF_TYPE_TUNNEL: case IF_TYPE_PPP: return AdapterKind::Tunnel;
    default: return AdapterKind::Unknown;
  }
}

std::uint32_t HostOrder(const sockaddr* address) {
  return ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr);
}

// The system's table of adapters with their IPv4 addresses (and gateways); empty when it gives
// none. Its entries point into the buffer: First() walks them.
struct AdapterTable {
  std::vector<unsigned char> buffer;
  IP_ADAPTER_ADDRESSES* First() {
    return buffer.empty() ? nullptr : reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
  }
};

AdapterTable ReadAdapterTable() {
  constexpr ULONG kFlags = GAA_FLAG_INCLUDE_GATEWAYS | GAA_FLAG_SKIP_ANYCAST |
                           GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
  AdapterTable table;
  ULONG size = kFirstListBytes;
  ULONG rc = ERROR_BUFFER_OVERFLOW;
  for (int i = 0; i < kListTries && rc == ERROR_BUFFER_OVERFLOW; ++i) {
    table.buffer.assign(size, 0);
    rc = GetAdaptersAddresses(AF_INET, kFlags, nullptr, table.First(), &size);
  }
  if (rc != NO_ERROR) table.buffer.clear();
  return table;
}

}  // namespace

std::string DottedIPv4(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::vector<Adapter> ListAdapters() {
  AdapterTable table = ReadAdapterTable();
  std::vector<Adapter> adapters;
  for (auto* a = table.First(); a != nullptr; a = a->Next) {
    Adapter adapter;
    adapter.id = a->AdapterName != nullptr ? a->AdapterName : "";
    adapter.name = a->FriendlyName != nullptr ? text::WideToUtf8(a->FriendlyName) : adapter.id;
    adapter.description = a->Description != nullptr ? text::WideToUtf8(a->Description) : "";
    adapter.kind = KindOf(a->IfType);
    adapter.up = a->OperStatus == IfOperStatusUp;
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* address = u->Address.lpSockaddr;
      if (address == nullptr || address->sa_family != AF_INET) continue;
      adapter.ipv4.push_back(HostOrder(address));
      ULONG mask = 0;  // network byte order
      adapter.masks.push_back(ConvertLengthToIpv4Mask(u->OnLinkPrefixLength, &mask) == NO_ERROR
                                  ? ntohl(mask) : 0);
    }
    for (auto* g = a->FirstGatewayAddress; g != nullptr; g = g->Next) {
      const sockaddr* address = g->Address.lpSockaddr;
      if (address != nullptr && address->sa_family == AF_INET && HostOrder(address) != 0 &&
          !adapter.hasGateway) {
        adapter.hasGateway = true;
        adapter.gateway = HostOrder(address);
      }
    }
    if (adapter.hasGateway) adapter.metric = a->Ipv4Metric;
    adapters.push_back(std::move(adapter));
  }
  return adapters;
}

std::vector<std::uint32_t> DefaultGateways() {
  AdapterTable table = ReadAdapterTable();
  std::vector<std::uint32_t> gateways;
  for (auto* a = table.First(); a != nullptr; a = a->Next) {
    for (auto* g = a->FirstGatewayAddress; g != nullptr; g = g->Next) {
      const sockaddr* address = g->Address.lpSockaddr;
      if (address != nullptr && address->sa_family == AF_INET && HostOrder(address) != 0) {
        gateways.push_back(HostOrder(address));
      }
    }
  }
  return gateways;
}

std::optional<AddressLink> LinkOfAddress(std::uint32_t address) {
  AdapterTable table = ReadAdapterTable();
  for (auto* a = table.First(); a != nullptr; a = a->Next) {
    for (auto* u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      const sockaddr* held = u->Address.lpSockaddr;
      if (held == nullptr || held->sa_family != AF_INET || HostOrder(held) != address) continue;
      ULONG mask = 0;  // network byte order
      if (ConvertLengthToIpv4Mask(u->OnLinkPrefixLength, &mask) != NO_ERROR) return std::nullopt;
      return AddressLink{a->IfIndex, ntohl(mask)};
    }
  }
  return std::nullopt;
}

std::string HostNameIPv4Address() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return "";
  std::string result;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) == 0) {
      for (addrinfo* ai = list; ai != nullptr && result.empty(); ai = ai->ai_next) {
        const std::uint32_t a = HostOrder(ai->ai_addr);
        if ((a >> 24) != 127) result = DottedIPv4(a);
      }
      freeaddrinfo(list);
    }
  }
  WSACleanup();
  return result;
}

}  // namespace tovi::net

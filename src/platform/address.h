// The PC's network adapters as the system lists them, for the choice of the address the TVs and
// the list service should see, and the name lookup that stands in when no adapter serves.
// Windows: GetAdaptersAddresses (with gateways); POSIX: the interface list, the routing table
// and /sys/class/net. Both fill the same table; what to make of it is the caller's. No call
// throws (an empty answer when the system gives none); none keeps state: safe from any thread.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tovi::net {

// What the system says an adapter is, where it says so.
enum class AdapterKind {
  Unknown,   // nothing said (an ordinary NIC on Linux looks like this)
  Ethernet,  // Windows' Ethernet type, Linux's ARPHRD_ETHER
  Wireless,  // Windows' 802.11 type, a Linux "wlan" device
  Loopback,
  Tunnel,    // Windows' tunnel and PPP types; Linux tun/tap, WireGuard, PPP and IP tunnels
  Bridge,    // a Linux software bridge (a LAN bridge or a hypervisor's host-only one)
};

inline constexpr std::uint32_t kNoMetric = 0xFFFFFFFF;

struct Adapter {
  std::string id;           // stable key: the interface name (Linux), the adapter's GUID (Windows)
  std::string name;         // what the user knows it by: the interface name, the friendly name
  std::string description;  // Windows' description (the product's own words); "" on Linux
  AdapterKind kind = AdapterKind::Unknown;
  bool up = false;          // administratively up and connected (carrier)
  std::vector<std::uint32_t> ipv4;  // IPv4 addresses, host byte order, in the system's order
  bool hasGateway = false;  // a default route leaves through it
  std::uint32_t metric = kNoMetric;  // its default route's metric (Windows: the interface's)
  // Switched on but without a link for now (a cable out, Wi-Fi between access points): Linux
  // keeps its addresses, and connections to them go on when the link is back. POSIX only.
  bool linkLost = false;
  std::uint32_t gateway = 0;          // the router of that default route (host byte order)
  std::vector<std::uint32_t> masks = {};  // each IPv4 address's network mask, in ipv4's order
};

std::vector<Adapter> ListAdapters();

// Where one of this PC's IPv4 addresses is: its adapter's index, as the system numbers adapters
// (what a datagram's arrival reports, platform/udp.h), and the mask of that address's network.
struct AddressLink {
  std::uint32_t adapterIndex = 0;
  std::uint32_t mask = 0;  // host byte order
};

// The link of `address` (host byte order); nullopt when no adapter holds it.
std::optional<AddressLink> LinkOfAddress(std::uint32_t address);

// Dotted: the first IPv4 address of the host's own name that is not a loopback one (Windows:
// the first, by Windows Sockets 1.1); "" when there is none.
std::string HostNameIPv4Address();

// The routers the default routes lead to (host byte order), on every adapter.
std::vector<std::uint32_t> DefaultGateways();

// Dotted form of a host-order IPv4 address.
std::string DottedIPv4(std::uint32_t address);

// What an IPv4 address is by the ranges set aside for special purposes: every address outside
// them is public unicast. Pure (address_ranges.cpp, the same on every platform).
enum class AddressRange {
  Public,
  ThisNetwork,  // 0.0.0.0/8: a connect there reaches this host
  Loopback,     // 127.0.0.0/8
  Private,      // 10/8, 172.16/12, 192.168/16
  Shared,       // 100.64.0.0/10: carriers' NAT and overlay VPNs
  LinkLocal,    // 169.254.0.0/16
  Multicast,    // 224.0.0.0/4
  Reserved,     // protocol assignments, documentation, benchmarking, 6to4 relays, 240/4, broadcast
};
AddressRange RangeOf(std::uint32_t address);

}  // namespace tovi::net

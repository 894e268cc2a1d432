#include "app/address.h"

#include <algorithm>

#include "platform/ascii.h"

namespace tovi::app {

namespace {

std::string& Override() {
  static std::string address;
  return address;
}

std::string Lower(std::string s) {
  for (char& c : s) c = text::LowerAscii(c);
  return s;
}

// How the products that make virtual adapters name them: Linux interface names begin so...
constexpr const char* kVirtualNamePrefixes[] = {
    "docker", "br-", "veth", "virbr", "vboxnet", "vmnet", "tap", "tun", "utun", "wg", "tailscale",
    "zt", "lxcbr", "lxdbr", "cni", "flannel", "podman", "vnic", "ham"};
// ...and Windows' friendly names and descriptions hold these words.
constexpr const char* kVirtualWords[] = {
    "vethernet", "hyper-v", "virtualbox", "vmware", "virtual", "wireguard", "tailscale", "zerotier",
    "openvpn", "tap-windows", "wintun", "vpn", "docker", "npcap", "loopback", "pseudo", "teredo",
    "isatap", "hamachi"};

bool LooksVirtual(const net::Adapter& a) {
  if (a.kind == net::AdapterKind::Tunnel || a.kind == net::AdapterKind::Loopback) return true;
  const std::string name = Lower(a.name);
  for (const char* prefix : kVirtualNamePrefixes) {
    if (name.rfind(prefix, 0) == 0) return true;
  }
  const std::string words = name + " " + Lower(a.description);
  for (const char* word : kVirtualWords) {
    if (words.find(word) != std::string::npos) return true;
  }
  return false;
}

bool Usable(std::uint32_t ip) {
  const net::AddressRange range = net::RangeOf(ip);
  return ip != 0 && range != net::AddressRange::Loopback && range != net::AddressRange::LinkLocal;
}

bool Private(std::uint32_t ip) { return net::RangeOf(ip) == net::AddressRange::Private; }

}  // namespace

std::vector<AddressCandidate> RankAddresses(const std::vector<net::Adapter>& adapters) {
  struct Ranked {
    AddressCandidate candidate;
    bool linkLost;
    bool gateway;
    std::uint32_t metric;
    bool routerOnItsNetwork;  // the address of the adapter's default route is on its network
    bool isPrivate;
  };
  std::vector<Ranked> all;
  for (const net::Adapter& a : adapters) {
    const bool automatic = !LooksVirtual(a);
    // A real adapter whose link is gone for a moment keeps its place behind those with a link:
    // moving away from it would end every stream that the link's return would have resumed.
    if (!a.up && !(a.linkLost && automatic)) continue;
    for (std::size_t i = 0; i < a.ipv4.size(); ++i) {
      const std::uint32_t ip = a.ipv4[i];
      if (!Usable(ip)) continue;
      const std::uint32_t mask = i < a.masks.size() ? a.masks[i] : 0;
      const bool routerHere = a.hasGateway && mask != 0 && (a.gateway & mask) == (ip & mask);
      all.push_back({{a.id, a.name, net::DottedIPv4(ip), automatic}, !a.up, a.hasGateway,
                     a.hasGateway ? a.metric : net::kNoMetric, routerHere, Private(ip)});
    }
  }
  std::stable_sort(all.begin(), all.end(), [](const Ranked& x, const Ranked& y) {
    if (x.candidate.automatic != y.candidate.automatic) return x.candidate.automatic;
    if (x.linkLost != y.linkLost) return y.linkLost;
    if (x.gateway != y.gateway) return x.gateway;
    if (x.metric != y.metric) return x.metric < y.metric;
    if (x.routerOnItsNetwork != y.routerOnItsNetwork) return x.routerOnItsNetwork;
    return x.isPrivate && !y.isPrivate;
  });
  std::vector<AddressCandidate> ranked;
  for (Ranked& r : all) ranked.push_back(std::move(r.candidate));
  return ranked;
}

std::string ChooseAddress(const std::vector<AddressCandidate>& ranked,
                          const std::string& preferredAdapterId,
                          const std::function<std::string()>& nameLookup) {
  if (!preferredAdapterId.empty()) {
    for (const AddressCandidate& c : ranked) {
      if (c.adapterId == preferredAdapterId) return c.address;
    }
  }
  for (const AddressCandidate& c : ranked) {
    if (c.automatic) return c.address;
  }
  const std::string byName = nameLookup ? nameLookup() : "";
  if (!byName.empty() || ranked.empty()) return byName;
  return ranked.front().address;
}

std::string GetLocalAddress(const std::string& preferredAdapterId) {
  if (!Override().empty()) return Override();
  return ChooseAddress(RankAddresses(net::ListAdapters()), preferredAdapterId,
                       net::HostNameIPv4Address);
}

void SetLocalAddressOverride(const std::string& address) { Override() = address; }
const std::string& LocalAddressOverride() { return Override(); }

}  // namespace tovi::app

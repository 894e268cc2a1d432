// Which address the program announces and serves at, on the adapter tables that Windows and
// Linux report on the PCs users have.
#include "app/address.h"

#include <gtest/gtest.h>

namespace tovi::app {
namespace {

using net::Adapter;
using net::AdapterKind;

constexpr std::uint32_t Ip(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  return a << 24 | b << 16 | c << 8 | d;
}

// Windows: GUID ids, friendly names, descriptions; Linux: interface names only.
Adapter Win(const char* name, const char* description, AdapterKind kind, std::uint32_t ip,
            std::uint32_t metric = net::kNoMetric) {
  return {std::string("{") + name + "}", name, description, kind, true, {ip},
          metric != net::kNoMetric, metric};
}
Adapter Nix(const char* name, AdapterKind kind, std::uint32_t ip, std::uint32_t metric = net::kNoMetric) {
  return {name, name, "", kind, true, {ip}, metric != net::kNoMetric, metric};
}

const Adapter kWinLan = Win("Ethernet", "Intel(R) Ethernet Connection I219-V", AdapterKind::Ethernet,
                            Ip(192, 168, 1, 50), 25);
const Adapter kNixLan = Nix("enp3s0", AdapterKind::Unknown, Ip(192, 168, 1, 50), 100);
const Adapter kNixLo = Nix("lo", AdapterKind::Loopback, Ip(127, 0, 0, 1));
Adapter Unplugged(Adapter a) {
  a.up = false;
  a.linkLost = true;
  return a;
}

TEST(AddressChoice, TheLanAdapterWinsOverVirtualAndVpnAdaptersListedBeforeIt) {
  struct Case {
    const char* machine;
    std::vector<Adapter> adapters;
    std::string chosen;
  };
  const Case cases[] = {
      {"Windows: Hyper-V's switch for WSL (with a gateway of its own)",
       {Win("vEthernet (WSL)", "Hyper-V Virtual Ethernet Adapter", AdapterKind::Ethernet,
            Ip(172, 22, 80, 1), 5), kWinLan}, "192.168.1.50"},
      {"Windows: VirtualBox host-only",
       {Win("Ethernet 2", "VirtualBox Host-Only Ethernet Adapter", AdapterKind::Ethernet,
            Ip(192, 168, 56, 1)), kWinLan}, "192.168.1.50"},
      {"Windows: VMware's VMnet8",
       {Win("VMware Network Adapter VMnet8", "VMware Virtual Ethernet Adapter for VMnet8",
            AdapterKind::Ethernet, Ip(192, 168, 150, 1)), kWinLan}, "192.168.1.50"},
      {"Windows: WireGuard's tunnel with a default route and the lowest metric",
       {Win("wg-home", "WireGuard Tunnel", AdapterKind::Unknown, Ip(10, 6, 0, 2), 5), kWinLan},
       "192.168.1.50"},
      {"Windows: Tailscale (CGNAT range, gateway)",
       {Win("Tailscale", "Tailscale Tunnel", AdapterKind::Unknown, Ip(100, 101, 2, 3), 5), kWinLan},
       "192.168.1.50"},
      {"Windows: OpenVPN's TAP adapter, reported as Ethernet",
       {Win("Ethernet 3", "TAP-Windows Adapter V9", AdapterKind::Ethernet, Ip(10, 8, 0, 6), 1), kWinLan},
       "192.168.1.50"},
      {"Windows: a tunnel by type alone",
       {Win("Connection 7", "Some Corp Client", AdapterKind::Tunnel, Ip(10, 9, 0, 2), 1), kWinLan},
       "192.168.1.50"},
      {"Windows: ZeroTier",
       {Win("ZeroTier One [8056c2e21c000001]", "ZeroTier Virtual Port", AdapterKind::Ethernet,
            Ip(10, 147, 17, 5)), kWinLan}, "192.168.1.50"},
      {"Windows: a link-local leftover of an adapter without DHCP answer",
       {Win("Ethernet 4", "Realtek PCIe GbE Family Controller", AdapterKind::Ethernet,
            Ip(169, 254, 12, 34)), kWinLan}, "192.168.1.50"},
      {"Windows: Wi-Fi with the gateway, a cable without",
       {Win("Ethernet", "Intel(R) I219-V", AdapterKind::Ethernet, Ip(10, 0, 0, 9)),
        Win("Wi-Fi", "Intel(R) Wi-Fi 6 AX201", AdapterKind::Wireless, Ip(192, 168, 0, 104), 35)},
       "192.168.0.104"},
      {"Windows: two real adapters, the lower metric wins",
       {Win("Wi-Fi", "Intel(R) Wi-Fi 6 AX201", AdapterKind::Wireless, Ip(192, 168, 0, 104), 35),
        Win("Ethernet", "Intel(R) I219-V", AdapterKind::Ethernet, Ip(192, 168, 1, 50), 25)},
       "192.168.1.50"},
      {"Windows: no gateway anywhere, a public address before it in the list",
       {Win("Ethernet", "Intel(R) I219-V", AdapterKind::Ethernet, Ip(85, 12, 3, 4)),
        Win("Ethernet 2", "Realtek", AdapterKind::Ethernet, Ip(192, 168, 1, 7))}, "192.168.1.7"},
      {"Windows: an adapter that is down",
       {[] { Adapter a = Win("Ethernet", "Intel(R) I219-V", AdapterKind::Ethernet, Ip(10, 0, 0, 1), 1);
             a.up = false; return a; }(), kWinLan}, "192.168.1.50"},
      {"Linux: Docker's bridge, a compose network, a veth, VirtualBox, a VPN tap, link-local",
       {kNixLo, Nix("docker0", AdapterKind::Bridge, Ip(172, 17, 0, 1)),
        Nix("br-3f2a9c", AdapterKind::Bridge, Ip(172, 18, 0, 1)),
        Nix("veth1a2b3c", AdapterKind::Unknown, Ip(172, 17, 0, 9)),
        Nix("vboxnet0", AdapterKind::Unknown, Ip(192, 168, 56, 1)),
        Nix("tap0", AdapterKind::Unknown, Ip(10, 8, 0, 6)),
        Nix("eth1", AdapterKind::Unknown, Ip(169, 254, 12, 34)), kNixLan}, "192.168.1.50"},
      {"Linux: WireGuard and Tailscale with default routes of lower metric",
       {Nix("wg0", AdapterKind::Tunnel, Ip(10, 6, 0, 2), 0),
        Nix("tailscale0", AdapterKind::Unknown, Ip(100, 64, 1, 2), 0), kNixLan}, "192.168.1.50"},
      {"Linux: VMware, libvirt and ZeroTier",
       {Nix("vmnet1", AdapterKind::Unknown, Ip(172, 16, 5, 1)),
        Nix("virbr0", AdapterKind::Bridge, Ip(192, 168, 122, 1)),
        Nix("ztc3q6pdjp", AdapterKind::Unknown, Ip(10, 147, 17, 5)), kNixLan}, "192.168.1.50"},
      {"Linux: a tun device by kind, whatever its name",
       {Nix("office", AdapterKind::Tunnel, Ip(10, 9, 0, 2), 0), kNixLan}, "192.168.1.50"},
      {"Linux: a LAN bridge (br0) is a real network",
       {Nix("br0", AdapterKind::Bridge, Ip(192, 168, 1, 60), 100)}, "192.168.1.60"},
      {"Linux: cable and Wi-Fi, the lower route metric wins",
       {Nix("wlp2s0", AdapterKind::Wireless, Ip(192, 168, 1, 77), 600), kNixLan}, "192.168.1.50"},
      {"Linux: the LAN's link lost for a moment keeps it, rather than Docker's bridge",
       {Nix("docker0", AdapterKind::Bridge, Ip(172, 17, 0, 1)), Unplugged(kNixLan)}, "192.168.1.50"},
      {"Linux: the cable out, Wi-Fi connected: the Wi-Fi",
       {Unplugged(kNixLan), Nix("wlp2s0", AdapterKind::Wireless, Ip(192, 168, 1, 77), 600)},
       "192.168.1.77"},
      {"Linux: a second network's address listed before the one its router is on",
       {Adapter{"eth0", "eth0", "", AdapterKind::Unknown, true, {Ip(10, 0, 0, 5), Ip(192, 168, 1, 50)},
                true, 100, false, Ip(192, 168, 1, 1), {Ip(255, 255, 255, 0), Ip(255, 255, 255, 0)}}},
       "192.168.1.50"},
      {"Linux: several addresses on one adapter, the first",
       {Adapter{"eth0", "eth0", "", AdapterKind::Unknown, true,
                {Ip(192, 168, 1, 50), Ip(192, 168, 1, 51)}, true, 100}}, "192.168.1.50"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseAddress(RankAddresses(c.adapters), "", [] { return "10.99.99.99"; }), c.chosen)
        << c.machine;
  }
}

TEST(AddressChoice, ThePreferredAdapterWhileItIsThereThenTheAutomaticChoiceThenTheName) {
  const Adapter vbox = Nix("vboxnet0", AdapterKind::Unknown, Ip(192, 168, 56, 1));
  const Adapter linkLocal = Nix("eth1", AdapterKind::Unknown, Ip(169, 254, 12, 34), 50);
  const auto byName = [] { return "10.20.30.40"; };
  const auto noName = [] { return ""; };
  struct Case {
    const char* what;
    std::vector<Adapter> adapters;
    std::string preferred;
    std::function<std::string()> name;
    std::string chosen;
  };
  const Case cases[] = {
      {"a virtual adapter the user chose", {kNixLan, vbox}, "vboxnet0", byName, "192.168.56.1"},
      {"the chosen adapter is gone: the automatic choice", {kNixLan}, "vboxnet0", byName, "192.168.1.50"},
      {"the chosen adapter is down", {kNixLan, [&] { Adapter a = vbox; a.up = false; return a; }()},
       "vboxnet0", byName, "192.168.1.50"},
      {"the chosen adapter lost its address", {kNixLan, linkLocal}, "eth1", byName, "192.168.1.50"},
      {"only virtual adapters: the name", {kNixLo, vbox}, "", byName, "10.20.30.40"},
      {"only loopback and link-local: the name", {kNixLo, linkLocal}, "", byName, "10.20.30.40"},
      {"nothing by name either: a virtual one rather than none", {kNixLo, vbox}, "", noName,
       "192.168.56.1"},
      {"nothing at all", {kNixLo}, "", noName, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseAddress(RankAddresses(c.adapters), c.preferred, c.name), c.chosen) << c.what;
  }
}

TEST(AddressChoice, TheMenuListsEveryReachableAddressBestFirst) {
  const std::vector<AddressCandidate> ranked = RankAddresses(
      {kNixLo, Nix("docker0", AdapterKind::Bridge, Ip(172, 17, 0, 1)),
       Nix("eth1", AdapterKind::Unknown, Ip(169, 254, 12, 34)),
       Nix("wlp2s0", AdapterKind::Wireless, Ip(192, 168, 1, 77), 600), kNixLan});
  std::vector<std::string> shown;
  for (const AddressCandidate& c : ranked) {
    shown.push_back(c.address + " " + c.adapterName + (c.automatic ? "" : " (virtual)"));
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"192.168.1.50 enp3s0", "192.168.1.77 wlp2s0",
                                             "172.17.0.1 docker0 (virtual)"}));
}

}  // namespace
}  // namespace tovi::app

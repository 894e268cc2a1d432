#include "app/options.h"

#include <gtest/gtest.h>

#include "app/address.h"
#include "remote/service_hosts.h"

namespace tovi::app {
namespace {

Options Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "remote-toviplayer");
  return ParseOptions(static_cast<int>(args.size()), args.data());
}

TEST(Options, ParsesWhatTheUsageTextPromises) {
  const Options none = Parse({});
  EXPECT_TRUE(none.error.empty());
  EXPECT_TRUE(none.address.empty());
  EXPECT_FALSE(none.help);

  const Options all = Parse({"--address", "10.0.0.9", "--list-host", "127.0.0.1:8081",
                             "--site-host", "site.test", "--help"});
  EXPECT_TRUE(all.error.empty()) << all.error;
  EXPECT_EQ(all.address, "10.0.0.9");
  EXPECT_EQ(all.listHost, "127.0.0.1:8081");
  EXPECT_EQ(all.siteHost, "site.test");
  EXPECT_TRUE(all.help);
}

TEST(Options, RejectsWhatItCannotUse) {
  for (const std::vector<const char*>& args : std::vector<std::vector<const char*>>{
           {"--address"},
           {"--address", "foo"},
           {"--address", "10.0.0.999"},
           {"--address", "192.168.1.60:99"},
           {"--address", "10.0.0"},
           {"--address", ""},
           {"--list-host"},
           {"--list-host", "host:"},
           {"--list-host", "host:0"},
           {"--list-host", "host:65536"},
           {"--site-host", "http://site.test"},
           {"--site-host", ":80"},
           {"--port", "8027"},
           {"extra"},
       }) {
    EXPECT_FALSE(Parse(args).error.empty()) << args[0] << (args.size() > 1 ? args[1] : "");
  }
}

TEST(Options, ApplyingThemSetsTheHostsAndTheAddress) {
  ApplyOptions(Parse({"--address", "10.9.8.7", "--list-host", "127.0.0.1:9", "--site-host",
                      "127.0.0.1:10"}));
  EXPECT_EQ(GetLocalAddress(), "10.9.8.7");
  EXPECT_EQ(remote::CurrentServiceHosts().listService, "127.0.0.1:9");
  EXPECT_EQ(remote::CurrentServiceHosts().mainSite, "127.0.0.1:10");
  SetLocalAddressOverride("");
  remote::CurrentServiceHosts() = remote::ServiceHosts{};
  EXPECT_EQ(remote::CurrentServiceHosts().listService, "list.toviplayer.example");
  EXPECT_EQ(remote::CurrentServiceHosts().mainSite, "toviplayer.example");
  EXPECT_NE(UsageText().find("list.toviplayer.example"), std::string::npos);
}

TEST(Options, AddressLookupGivesDottedIPv4OrNothing) {
  const std::string address = GetLocalAddress();
  // Which address is chosen, "" included, is tested on given machines in platform_tests.
  if (address.empty()) GTEST_SKIP() << "this machine has no address to look up";
  int parts = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = address.find('.', start);
    const std::string part = address.substr(start, dot - start);
    EXPECT_FALSE(part.empty());
    EXPECT_EQ(part.find_first_not_of("0123456789"), std::string::npos) << address;
    EXPECT_LE(std::stoi(part), 255);
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  EXPECT_EQ(parts, 4) << address;
}

}  // namespace
}  // namespace tovi::app

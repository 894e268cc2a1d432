// The desktop's decisions through test doubles of the system: the PC kept awake across streams
// and their tail, the start-with-Windows value, the firewall's verdict per profile.
#include "app/desktop.h"

#include <gtest/gtest.h>

#include "app/desktop_fakes.h"

namespace tovi::app {
namespace {

using fakes::FakePlatform;
using fakes::FakeSystem;

constexpr const char* kExe = "C:\\Tovi\\remote-toviplayer.exe";

// 'S' a stream starts, 'E' one ends, 'W' seconds pass, 'P' the form's poll; held: after the step.
struct AwakeStep {
  char op;
  int seconds;
  bool held;
};
struct AwakeCase {
  const char* what;
  std::vector<AwakeStep> steps;
  int holds;  // the blocker's calls in all
  int releases;
};

TEST(Desktop, KeepsThePcAwakeFromTheFirstStreamUntilTwoMinutesAfterTheLast) {
  const AwakeCase cases[] = {
      {"one stream, then the tail",
       {{'S', 0, true}, {'W', 600, true}, {'P', 0, true}, {'E', 0, true}, {'W', 119, true},
        {'P', 0, true}, {'W', 1, true}, {'P', 0, false}},
       1, 1},
      {"overlapping streams: the tail starts when the last ends",
       {{'S', 0, true}, {'S', 0, true}, {'E', 0, true}, {'W', 300, true}, {'P', 0, true},
        {'E', 0, true}, {'W', 119, true}, {'P', 0, true}, {'W', 1, true}, {'P', 0, false}},
       1, 1},
      {"a stream within the tail keeps the one hold and starts the tail anew",
       {{'S', 0, true}, {'E', 0, true}, {'W', 100, true}, {'S', 0, true}, {'E', 0, true},
        {'W', 100, true}, {'P', 0, true}, {'W', 20, true}, {'P', 0, false}},
       1, 1},
      {"a stream after the release holds again",
       {{'S', 0, true}, {'E', 0, true}, {'W', 120, true}, {'P', 0, false}, {'S', 0, true},
        {'E', 0, true}, {'W', 120, true}, {'P', 0, false}},
       2, 2},
      {"an end without a start holds nothing",
       {{'E', 0, false}, {'W', 200, false}, {'P', 0, false}, {'S', 0, true}, {'W', 500, true},
        {'P', 0, true}},
       1, 0},
  };
  for (const AwakeCase& c : cases) {
    FakeSystem system;
    Desktop desktop(FakePlatform(system, kExe));
    int step = 0;
    for (const AwakeStep& s : c.steps) {
      ++step;
      switch (s.op) {
        case 'S': desktop.Awake().StreamStarted(); break;
        case 'E': desktop.Awake().StreamEnded(); break;
        case 'W': system.now += std::chrono::seconds(s.seconds); break;
        case 'P': desktop.Awake().Poll(); break;
      }
      EXPECT_EQ(desktop.Awake().Held(), s.held) << c.what << ", step " << step;
      EXPECT_EQ(system.holds - system.releases, s.held ? 1 : 0) << c.what << ", step " << step;
    }
    EXPECT_EQ(system.holds, c.holds) << c.what;
    EXPECT_EQ(system.releases, c.releases) << c.what;
  }
  FakeSystem system;  // a hold still running when the program ends is given back
  {
    Desktop desktop(FakePlatform(system, kExe));
    desktop.Awake().StreamStarted();
  }
  EXPECT_EQ(system.releases, 1);
}

struct AutostartCase {
  const char* what;
  std::string exe;
  std::optional<std::string> before;
  bool checked;
  std::optional<std::string> afterClick;
};

TEST(Desktop, TheAutostartMarkShowsWhatTheRunValueStartsAndAClickPutsOursRight) {
  const std::string ours = "\"C:\\Tovi\\remote-toviplayer.exe\"";
  const AutostartCase cases[] = {
      {"no value", kExe, std::nullopt, false, ours},
      {"ours", kExe, ours, true, std::nullopt},
      {"ours unquoted, other case, with a blank", kExe, "c:\\tovi\\REMOTE-TOVIPLAYER.EXE ", true,
       std::nullopt},
      {"a moved program's old value", kExe, "\"D:\\Old\\remote-toviplayer.exe\"", false, ours},
      {"a longer name", kExe, "\"C:\\Tovi\\remote-toviplayer.exe.bak\"", false, ours},
      {"an unclosed quote", kExe, "\"C:\\Tovi\\remote-toviplayer.exe", false, ours},
      {"a path with spaces is quoted", "C:\\Program Files\\Tovi\\r.exe", std::nullopt, false,
       "\"C:\\Program Files\\Tovi\\r.exe\""},
  };
  for (const AutostartCase& c : cases) {
    FakeSystem system;
    system.runValue = c.before;
    Desktop desktop(FakePlatform(system, c.exe));
    EXPECT_EQ(desktop.AutostartOn(), c.checked) << c.what;
    desktop.ToggleAutostart();
    EXPECT_EQ(system.runValue, c.afterClick) << c.what;
    EXPECT_EQ(desktop.AutostartOn(), !c.checked) << c.what;
  }
}

firewall::Rule Allow(std::string program, std::string ports, int profiles,
                     int protocol = firewall::kProtocolTcp) {
  return {true, true, true, protocol, std::move(ports), std::move(program), profiles};
}

struct FirewallCase {
  const char* what;
  std::optional<firewall::State> state;
  FirewallVerdict verdict;
  bool publicNetwork;
};

TEST(Desktop, TheFirewallVerdictFollowsTheRulesOfTheCurrentProfiles) {
  using namespace firewall;
  const int all = kDomain | kPrivate | kPublic;
  const auto on = [&](int current, std::vector<Rule> rules) {
    return State{current, all, 0, 0, std::move(rules)};
  };
  Rule blocking = Allow(kExe, "*", all);
  blocking.allow = false;
  Rule disabled = Allow(kExe, "8027", all);
  disabled.enabled = false;
  Rule outbound = Allow(kExe, "8027", all);
  outbound.inbound = false;
  const FirewallCase cases[] = {
      {"interfaces missing", std::nullopt, FirewallVerdict::Unknown, false},
      {"no current profile", on(0, {}), FirewallVerdict::Unknown, false},
      {"no rule", on(kPrivate, {}), FirewallVerdict::Blocked, false},
      {"our rule", on(kPrivate, {Allow(kExe, "8027", kPrivate)}), FirewallVerdict::Allowed, false},
      {"our path in other case", on(kPrivate, {Allow("c:\\tovi\\Remote-Toviplayer.exe", "", kPrivate)}),
       FirewallVerdict::Allowed, false},
      {"a rule for public networks only", on(kPrivate, {Allow(kExe, "8027", kPublic)}),
       FirewallVerdict::Blocked, false},
      {"another program's rule", on(kPrivate, {Allow("C:\\Other\\x.exe", "*", all)}),
       FirewallVerdict::Blocked, false},
      {"any program, the port in a range", on(kPrivate, {Allow("", "80, 8000-8100", kPrivate)}),
       FirewallVerdict::Allowed, false},
      {"other ports", on(kPrivate, {Allow(kExe, "80,443,RPC", kPrivate)}), FirewallVerdict::Blocked,
       false},
      {"UDP only", on(kPrivate, {Allow(kExe, "8027", kPrivate, 17)}), FirewallVerdict::Blocked, false},
      {"any protocol", on(kPrivate, {Allow(kExe, "*", kPrivate, kProtocolAny)}),
       FirewallVerdict::Allowed, false},
      {"a disabled rule", on(kPrivate, {disabled}), FirewallVerdict::Blocked, false},
      {"an outbound rule", on(kPrivate, {outbound}), FirewallVerdict::Blocked, false},
      {"a block rule beats an allow rule",
       on(kPrivate, {Allow(kExe, "8027", kPrivate), blocking}), FirewallVerdict::Blocked, false},
      {"firewall off on the profile", State{kPrivate, kPublic, 0, 0, {}}, FirewallVerdict::Allowed,
       false},
      {"default allow", State{kPrivate, all, kPrivate, 0, {}}, FirewallVerdict::Allowed, false},
      {"block all inbound, rule or not", State{kPrivate, all, 0, kPrivate, {Allow(kExe, "*", all)}},
       FirewallVerdict::Blocked, false},
      {"public network, let in", on(kPublic, {Allow(kExe, "8027", all)}), FirewallVerdict::Allowed,
       true},
      {"private and public, rule on private only",
       on(kPrivate | kPublic, {Allow(kExe, "8027", kPrivate)}), FirewallVerdict::Blocked, true},
  };
  for (const FirewallCase& c : cases) {
    const FirewallAdvice advice = JudgeFirewall(c.state, kExe, 8027);
    EXPECT_EQ(advice.verdict, c.verdict) << c.what;
    EXPECT_EQ(advice.publicNetwork, c.publicNetwork) << c.what;
  }

  // The rule asked for: this program, the port, the profiles of the network now, never Public.
  const struct {
    std::optional<State> state;
    const char* command;
  } asks[] = {
      {on(kPrivate, {}), "Remote Toviplayer|C:\\Tovi\\remote-toviplayer.exe|8027|2"},
      {on(kDomain | kPublic, {}), "Remote Toviplayer|C:\\Tovi\\remote-toviplayer.exe|8027|1"},
      {std::nullopt, "Remote Toviplayer|C:\\Tovi\\remote-toviplayer.exe|8027|2"},
  };
  for (const auto& ask : asks) {
    FakeSystem system;
    system.firewallState = ask.state;
    Desktop desktop(FakePlatform(system, kExe));
    desktop.CheckFirewall(8027);
    EXPECT_TRUE(desktop.AllowInFirewall(8027));
    EXPECT_EQ(system.ruleCommands, std::vector<std::string>{ask.command});
  }
}

}  // namespace
}  // namespace tovi::app

#include "app/desktop.h"

#include <algorithm>

#include "platform/ascii.h"

namespace tovi::app {

namespace {

std::string Trim(const std::string& s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool SameFile(const std::string& a, const std::string& b) {
  const auto fold = [](char c) {
    c = c == '/' ? '\\' : c;
    return text::LowerAscii(c);
  };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return fold(x) == fold(y); });
}

// "*" or "" (any), or a comma list of ports and ranges; keywords (RPC, IPHTTPS...) match nothing.
bool PortListHas(const std::string& list, int port) {
  if (Trim(list).empty() || Trim(list) == "*") return true;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string item = Trim(list.substr(start, end - start));
    start = end + 1;
    const std::size_t dash = item.find('-');
    const std::string low = item.substr(0, dash);
    const std::string high = dash == std::string::npos ? low : item.substr(dash + 1);
    const auto number = [](const std::string& s) {
      if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
      }
      return std::stoi(s);
    };
    const int first = number(low), last = number(high);
    if (first >= 0 && last >= 0 && first <= port && port <= last) return true;
  }
  return false;
}

bool RuleMatches(const firewall::Rule& rule, int profile, const std::string& exePath, int port) {
  return rule.enabled && rule.inbound && (rule.profiles & profile) != 0 &&
         (rule.protocol == firewall::kProtocolTcp || rule.protocol == firewall::kProtocolAny) &&
         PortListHas(rule.localPorts, port) &&
         (rule.application.empty() || SameFile(rule.application, exePath));
}

bool LetsIn(const firewall::State& state, int profile, const std::string& exePath, int port) {
  if ((state.enabledProfiles & profile) == 0) return true;
  if ((state.blockAll & profile) != 0) return false;
  bool allowed = (state.allowByDefault & profile) != 0;
  for (const firewall::Rule& rule : state.rules) {
    if (!RuleMatches(rule, profile, exePath, port)) continue;
    if (!rule.allow) return false;
    allowed = true;
  }
  return allowed;
}

}  // namespace

std::string AutostartCommand(const std::string& exePath) { return "\"" + exePath + "\""; }

bool StartsProgram(const std::string& runValue, const std::string& exePath) {
  std::string value = Trim(runValue);
  if (!value.empty() && value.front() == '"') {
    const std::size_t close = value.find('"', 1);
    if (close == std::string::npos) return false;
    value = value.substr(1, close - 1);
  }
  return !exePath.empty() && SameFile(value, exePath);
}

FirewallAdvice JudgeFirewall(const std::optional<firewall::State>& state,
                             const std::string& exePath, int port) {
  FirewallAdvice advice;
  if (!state || state->currentProfiles == 0) return advice;
  advice.publicNetwork = (state->currentProfiles & firewall::kPublic) != 0;
  advice.verdict = FirewallVerdict::Allowed;
  for (int profile : {firewall::kDomain, firewall::kPrivate, firewall::kPublic}) {
    if ((state->currentProfiles & profile) != 0 && !LetsIn(*state, profile, exePath, port)) {
      advice.verdict = FirewallVerdict::Blocked;
    }
  }
  return advice;
}

Desktop::Desktop(DesktopPlatform platform) : platform_(std::move(platform)) {
  if (!platform_.sleepBlocker) platform_.sleepBlocker = power::CreateSystemSleepBlocker();
  if (!platform_.runEntry) platform_.runEntry = autostart::SystemRunEntry(kAutostartValueName);
  if (!platform_.firewall) platform_.firewall = firewall::SystemFirewall();
  if (platform_.executablePath.empty()) platform_.executablePath = autostart::ExecutablePath();
  if (!platform_.now) platform_.now = [] { return AwakeClock::now(); };
  awake_ = std::make_unique<AwakeKeeper>(*platform_.sleepBlocker, platform_.now);
}

bool Desktop::AutostartSupported() const { return autostart::Supported(); }

bool Desktop::AutostartOn() {
  const std::optional<std::string> value = platform_.runEntry->Read();
  return value && StartsProgram(*value, platform_.executablePath);
}

void Desktop::ToggleAutostart() {
  if (AutostartOn()) {
    platform_.runEntry->Remove();
  } else {
    platform_.runEntry->Write(AutostartCommand(platform_.executablePath));
  }
}

FirewallAdvice Desktop::CheckFirewall(int port) {
  const std::optional<firewall::State> state = platform_.firewall->Read();
  lastProfiles_ = state ? state->currentProfiles : 0;
  return JudgeFirewall(state, platform_.executablePath, port);
}

bool Desktop::AllowInFirewall(int port) {
  int profiles = lastProfiles_ & (firewall::kDomain | firewall::kPrivate);
  if (profiles == 0) profiles = firewall::kPrivate;
  return platform_.firewall->StartAllowRule(kFirewallRuleName, platform_.executablePath, port,
                                            profiles);
}

}  // namespace tovi::app

// The desktop's system parts as test doubles: a sleep blocker that counts, a Run value in
// memory, a firewall that answers a given state, and a clock the test moves.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop.h"

namespace tovi::app::fakes {

struct FakeSystem {
  int holds = 0;
  int releases = 0;
  std::optional<std::string> runValue;
  std::optional<firewall::State> firewallState;
  std::vector<std::string> ruleCommands;  // name|program|port|profiles, as started
  AwakeClock::time_point now{};
};

class CountingBlocker : public power::SleepBlocker {
 public:
  explicit CountingBlocker(FakeSystem& s) : s_(s) {}
  void Hold() override { ++s_.holds; }
  void Release() override { ++s_.releases; }

 private:
  FakeSystem& s_;
};

class MemoryRunEntry : public autostart::RunEntry {
 public:
  explicit MemoryRunEntry(FakeSystem& s) : s_(s) {}
  std::optional<std::string> Read() override { return s_.runValue; }
  void Write(const std::string& command) override { s_.runValue = command; }
  void Remove() override { s_.runValue.reset(); }

 private:
  FakeSystem& s_;
};

class GivenFirewall : public firewall::Firewall {
 public:
  explicit GivenFirewall(FakeSystem& s) : s_(s) {}
  std::optional<firewall::State> Read() override { return s_.firewallState; }
  bool StartAllowRule(const std::string& name, const std::string& program, int port,
                      int profiles) override {
    s_.ruleCommands.push_back(name + "|" + program + "|" + std::to_string(port) + "|" +
                              std::to_string(profiles));
    return true;
  }

 private:
  FakeSystem& s_;
};

inline DesktopPlatform FakePlatform(FakeSystem& s, std::string exePath) {
  DesktopPlatform p;
  p.sleepBlocker = std::make_unique<CountingBlocker>(s);
  p.runEntry = std::make_unique<MemoryRunEntry>(s);
  p.firewall = std::make_unique<GivenFirewall>(s);
  p.executablePath = std::move(exePath);
  p.now = [&s] { return s.now; };
  return p;
}

}  // namespace tovi::app::fakes

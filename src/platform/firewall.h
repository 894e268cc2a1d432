// What the system firewall says about inbound connections, read through its own interfaces, and
// the one change the program asks of it: a rule that lets TVs reach the program. Linux has no
// firewall of this kind to ask: nothing is read there, nothing added.
// GUI thread only (the Windows interfaces are COM objects of the GUI thread's apartment).
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tovi::firewall {

// Profiles as the firewall numbers them (a bit each).
inline constexpr int kDomain = 1;
inline constexpr int kPrivate = 2;
inline constexpr int kPublic = 4;
inline constexpr int kProtocolTcp = 6;
inline constexpr int kProtocolAny = 256;

struct Rule {
  bool enabled = false;
  bool inbound = false;
  bool allow = false;       // else it blocks
  int protocol = kProtocolAny;
  std::string localPorts;   // as listed: "*", "8027", "80,8000-8100", or "" (any)
  std::string application;  // the program's full path (UTF-8); "" = every program
  int profiles = 0;         // the profiles it applies to
};

struct State {
  int currentProfiles = 0;  // of the networks connected now
  int enabledProfiles = 0;  // where the firewall is on
  int allowByDefault = 0;   // where inbound traffic without a rule is let in
  int blockAll = 0;         // where every inbound connection is blocked, rules or not
  std::vector<Rule> rules;
};

class Firewall {
 public:
  virtual ~Firewall() = default;
  // Nothing when the firewall's interfaces are missing or do not answer (as under wine).
  virtual std::optional<State> Read() = 0;
  // Starts, elevated (the user confirms or refuses), the system's command that adds an inbound
  // rule letting TCP port reach program on profiles. False when it could not be started.
  virtual bool StartAllowRule(const std::string& ruleName, const std::string& program, int port,
                              int profiles) = 0;
};

std::unique_ptr<Firewall> SystemFirewall();

}  // namespace tovi::firewall

// The elevated command that lets the program's port in through the Windows firewall: netsh.exe
// of the system's own folder (started by bare name, the search would look in the program's
// folder and the current one first, and run, elevated, whatever lies there), with a rule for the
// PC's own networks only (the TVs are there; nobody from beyond them gets in).
#pragma once
#include <string>

namespace tovi::firewall {

struct NetshCommand {
  std::wstring file;        // empty when the system folder cannot be told
  std::wstring parameters;
};

// profileList: "domain", "private", "public", comma-separated.
NetshCommand AllowRuleCommand(const std::string& ruleName, const std::string& program, int port,
                              const std::string& profileList);

}  // namespace tovi::firewall

// The firewall's COM interfaces (Windows Vista and later). Any call that fails, or answers "not
// implemented" as wine's do, makes the whole reading unknown rather than half right.
#include <windows.h>
#include <netfw.h>
#include <oleauto.h>
#include <shellapi.h>

#include "platform/firewall.h"
#include "platform/win32/netsh_rule.h"
#include "platform/win32/wide.h"

namespace tovi::firewall {

namespace {

// The most rules read: a PC has some hundreds; past this the check gives up as unknown rather
// than hold the menu.
constexpr int kMaxRules = 20000;

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() {
    if (p_ != nullptr) p_->Release();
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  T** Out() { return &p_; }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  ~Bstr() { SysFreeString(s_); }
  BSTR* Out() { return &s_; }
  std::string Utf8() const { return s_ != nullptr ? text::WideToUtf8(s_) : std::string(); }

 private:
  BSTR s_ = nullptr;
};

bool ReadRule(INetFwRule* r, Rule* rule) {
  VARIANT_BOOL enabled = VARIANT_FALSE;
  NET_FW_RULE_DIRECTION direction = NET_FW_RULE_DIR_OUT;
  NET_FW_ACTION action = NET_FW_ACTION_BLOCK;
  LONG protocol = 0, profiles = 0;
  Bstr ports, application;
  if (FAILED(r->get_Enabled(&enabled)) || FAILED(r->get_Direction(&direction)) ||
      FAILED(r->get_Action(&action)) || FAILED(r->get_Protocol(&protocol)) ||
      FAILED(r->get_Profiles(&profiles)) || FAILED(r->get_LocalPorts(ports.Out())) ||
      FAILED(r->get_ApplicationName(application.Out()))) {
    return false;
  }
  rule->enabled = enabled != VARIANT_FALSE;
  rule->inbound = direction == NET_FW_RULE_DIR_IN;
  rule->allow = action == NET_FW_ACTION_ALLOW;
  rule->protocol = static_cast<int>(protocol);
  rule->profiles = static_cast<int>(profiles);
  rule->localPorts = ports.Utf8();
  rule->application = application.Utf8();
  return true;
}

bool ReadRules(INetFwPolicy2* policy, std::vector<Rule>* rules) {
  ComPtr<INetFwRules> list;
  ComPtr<IUnknown> enumerator;
  ComPtr<IEnumVARIANT> items;
  if (FAILED(policy->get_Rules(list.Out())) || FAILED(list->get__NewEnum(enumerator.Out())) ||
      enumerator.Get() == nullptr ||
      FAILED(enumerator->QueryInterface(__uuidof(IEnumVARIANT),
                                        reinterpret_cast<void**>(items.Out())))) {
    return false;
  }
  for (int n = 0; n < kMaxRules; ++n) {
    VARIANT item;
    VariantInit(&item);
    ULONG fetched = 0;
    if (items->Next(1, &item, &fetched) != S_OK || fetched == 0) return true;
    bool ok = false;
    if (item.vt == VT_DISPATCH && item.pdispVal != nullptr) {
      ComPtr<INetFwRule> rule;
      Rule read;
      ok = SUCCEEDED(item.pdispVal->QueryInterface(__uuidof(INetFwRule),
                                                   reinterpret_cast<void**>(rule.Out()))) &&
           ReadRule(rule.Get(), &read);
      if (ok) rules->push_back(std::move(read));
    }
    VariantClear(&item);
    if (!ok) return false;
  }
  return false;
}

class WindowsFirewall : public Firewall {
 public:
  std::optional<State> Read() override {
    ComPtr<INetFwPolicy2> policy;
    if (FAILED(CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                                __uuidof(INetFwPolicy2), reinterpret_cast<void**>(policy.Out())))) {
      return std::nullopt;
    }
    State state;
    LONG current = 0;
    if (FAILED(policy->get_CurrentProfileTypes(&current))) return std::nullopt;
    state.currentProfiles = static_cast<int>(current);
    for (int profile : {kDomain, kPrivate, kPublic}) {
      const auto type = static_cast<NET_FW_PROFILE_TYPE2>(profile);
      VARIANT_BOOL enabled = VARIANT_FALSE, blockAll = VARIANT_FALSE;
      NET_FW_ACTION inbound = NET_FW_ACTION_BLOCK;
      if (FAILED(policy->get_FirewallEnabled(type, &enabled)) ||
          FAILED(policy->get_BlockAllInboundTraffic(type, &blockAll)) ||
          FAILED(policy->get_DefaultInboundAction(type, &inbound))) {
        return std::nullopt;
      }
      if (enabled != VARIANT_FALSE) state.enabledProfiles |= profile;
      if (blockAll != VARIANT_FALSE) state.blockAll |= profile;
      if (inbound == NET_FW_ACTION_ALLOW) state.allowByDefault |= profile;
    }
    if (!ReadRules(policy.Get(), &state.rules)) return std::nullopt;
    return state;
  }

  bool StartAllowRule(const std::string& ruleName, const std::string& program, int port,
                      int profiles) override {
    std::string profileList;
    for (auto [bit, name] : {std::pair{kDomain, "domain"}, std::pair{kPrivate, "private"},
                             std::pair{kPublic, "public"}}) {
      if ((profiles & bit) == 0) continue;
      profileList += (profileList.empty() ? "" : ",") + std::string(name);
    }
    const NetshCommand netsh = AllowRuleCommand(ruleName, program, port, profileList);
    if (profileList.empty() || netsh.file.empty()) return false;
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC;
    info.lpVerb = L"runas";
    info.lpFile = netsh.file.c_str();
    info.lpParameters = netsh.parameters.c_str();
    info.nShow = SW_HIDE;
    return ShellExecuteExW(&info) != FALSE;
  }
};

}  // namespace

NetshCommand AllowRuleCommand(const std::string& ruleName, const std::string& program, int port,
                              const std::string& profileList) {
  NetshCommand command;
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH) command.file = std::wstring(folder, length) + L"\\netsh.exe";
  command.parameters = text::Utf8ToWide(
      "advfirewall firewall add rule name=\"" + ruleName + "\" dir=in action=allow program=\"" +
      program + "\" enable=yes profile=" + profileList + " protocol=TCP localport=" +
      std::to_string(port) + " remoteip=localsubnet");
  return command;
}

std::unique_ptr<Firewall> SystemFirewall() { return std::make_unique<WindowsFirewall>(); }

}  // namespace tovi::firewall

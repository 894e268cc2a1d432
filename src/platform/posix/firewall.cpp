#include "platform/firewall.h"

namespace tovi::firewall {

namespace {

class NoFirewall : public Firewall {
 public:
  std::optional<State> Read() override { return std::nullopt; }
  bool StartAllowRule(const std::string&, const std::string&, int, int) override { return false; }
};

}  // namespace

std::unique_ptr<Firewall> SystemFirewall() { return std::make_unique<NoFirewall>(); }

}  // namespace tovi::firewall

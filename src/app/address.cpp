#include "app/address.h"

#include "platform/address.h"

namespace tovi::app {

namespace {
std::string& Override() {
  static std::string address;
  return address;
}
}  // namespace

std::string GetLocalAddress() {
  if (!Override().empty()) return Override();
  return net::HostIPv4Address();
}

void SetLocalAddressOverride(const std::string& address) { Override() = address; }

}  // namespace tovi::app

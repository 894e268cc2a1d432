#include "remote/service_hosts.h"

namespace tovi::remote {

ServiceHosts& CurrentServiceHosts() {
  static ServiceHosts hosts;
  return hosts;
}

}  // namespace tovi::remote

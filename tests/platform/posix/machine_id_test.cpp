// The machine's id, which the media server's UUID is made from (TVs remember a server by it):
// the system's own id, read from where systemd or D-Bus keep it; none where neither does.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/identity.h"

namespace tovi::machine {
namespace {

TEST(MachineId, IsTheIdTheSystemKeeps) {
  std::string kept;
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::ifstream in(path);
    if (in && std::getline(in, kept) && !kept.empty()) break;
    kept.clear();
  }
  EXPECT_EQ(MachineId(), kept);
  if (!kept.empty()) {
    EXPECT_EQ(MachineId().size(), 32u) << "an id is 32 hex digits";
  }
}

}  // namespace
}  // namespace tovi::machine

// The device's identity: the same machine keeps its UUID (TVs remember servers by it), another
// machine gets another, and the UUID is one that control points accept.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "dlna/identity.h"

namespace tovi::dlna {
namespace {

struct IdentityCase {
  const char* name;
  std::string machineId, pcName;
  std::string otherMachineId, otherPcName;
  bool sameUuid;
};

TEST(DeviceIdentity, FollowsTheMachineNotTheRun) {
  const IdentityCase cases[] = {
      {"same machine, next start", "0123456789abcdef0123456789abcdef", "TV-PC",
       "0123456789abcdef0123456789abcdef", "TV-PC", true},
      // Renaming the PC must not make it a new device on every TV.
      {"same machine, renamed", "0123456789abcdef0123456789abcdef", "TV-PC",
       "0123456789abcdef0123456789abcdef", "Living room", true},
      {"another machine, same name", "0123456789abcdef0123456789abcdef", "TV-PC",
       "0123456789abcdef0123456789abcdee", "TV-PC", false},
      {"no machine id: the PC's name", "", "TV-PC", "", "Other-PC", false},
      // A machine id equal to some PC's name must not take that PC's UUID.
      {"machine id that reads like a name", "TV-PC", "A", "", "TV-PC", false},
  };
  const std::regex uuidForm("[0-9a-f]{8}-[0-9a-f]{4}-5[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}");
  for (const IdentityCase& c : cases) {
    SCOPED_TRACE(c.name);
    const DeviceIdentity one = MakeDeviceIdentity(c.machineId, c.pcName);
    const DeviceIdentity two = MakeDeviceIdentity(c.otherMachineId, c.otherPcName);
    EXPECT_TRUE(std::regex_match(one.uuid, uuidForm)) << one.uuid;
    EXPECT_TRUE(std::regex_match(two.uuid, uuidForm)) << two.uuid;
    EXPECT_EQ(one.uuid == two.uuid, c.sameUuid) << one.uuid << " " << two.uuid;
  }
  // A name-based UUID by RFC 4122's recipe (as any other implementation computes it from our
  // namespace and "machine:" + the id): a fixed value, so that no change of ours moves it.
  EXPECT_EQ(MakeDeviceIdentity("0123456789abcdef0123456789abcdef", "x").uuid,
            "b242dadf-26c1-5b01-b21f-34ccb407c19c");
  EXPECT_EQ(MakeDeviceIdentity("", "TV-PC").uuid, "d05bbb30-4356-5d02-ac6f-34c68f0bf3a8");

  EXPECT_EQ(MakeDeviceIdentity("id", "Гостиная").friendlyName, "Remote Toviplayer (Гостиная)");
  EXPECT_EQ(MakeDeviceIdentity("id", "").friendlyName, "Remote Toviplayer");
  EXPECT_EQ(Udn(MakeDeviceIdentity("id", "x")), "uuid:" + MakeDeviceIdentity("id", "x").uuid);
  EXPECT_TRUE(std::regex_match(ServerProduct(), std::regex("[A-Za-z]+/[0-9.]+ UPnP/1\\.0 RemoteToviplayer/1\\.1")))
      << ServerProduct();
}

}  // namespace
}  // namespace tovi::dlna

// Who the PC is on the media-server side: the device's UUID and the name TVs list it by. The
// UUID is derived from the machine's own id (a name-based UUID, RFC 4122 version 5), so the same
// PC keeps it across restarts and reinstalls of the program with nothing stored, and another PC
// gets another; the machine id itself never leaves the PC (only its hash). Pure but for
// ThisDeviceIdentity and ServerProduct, which read the system; all are safe from any thread.
#pragma once
#include <string>

namespace tovi::dlna {

struct DeviceIdentity {
  std::string uuid;          // "xxxxxxxx-xxxx-5xxx-yxxx-xxxxxxxxxxxx", lower-case hex
  std::string friendlyName;  // "Remote Toviplayer (<PC name>)", UTF-8
};

// The program's name in the friendly name and in server headers.
inline constexpr const char* kProductName = "Remote Toviplayer";

// The identity of a machine with that id and that PC name. An empty id (a system that keeps
// none) falls back to the PC's name; an empty name leaves the parentheses out.
DeviceIdentity MakeDeviceIdentity(const std::string& machineId, const std::string& pcName);

// This PC's.
DeviceIdentity ThisDeviceIdentity();

// The device's unique name in descriptions and announcements: "uuid:" and the UUID.
std::string Udn(const DeviceIdentity& identity);

// The SERVER header of discovery and of the description's HTTP answers:
// "<system>/<version> UPnP/1.0 RemoteToviplayer/1.1".
std::string ServerProduct();

}  // namespace tovi::dlna

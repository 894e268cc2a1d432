// The documents a control point reads before it acts: the device description (what the PC is
// and where its three services answer) and each service's description (SCPD: its actions and
// state variables). Pure: no I/O, safe from any thread.
#pragma once
#include <string>
#include <string_view>

namespace tovi::dlna {

// What names this device on the network.
struct DeviceFacts {
  std::string uuid;          // with or without the "uuid:" prefix
  std::string friendlyName;  // UTF-8, shown by TVs in their source lists
};

// "uuid:" and the UUID: the device's UDN, as descriptions and announcements name it.
std::string DeviceUdn(const DeviceFacts& device);

// The device description (UPnP device architecture 1.0, DLNA DMS-1.50), its service URLs
// absolute paths ("/?dlna/...") that the control point resolves against where it read this.
std::string DeviceDescription(const DeviceFacts& device);

// The SCPD of the service with that type (one of kServices' types); empty for any other.
std::string ServiceDescription(std::string_view serviceType);

}  // namespace tovi::dlna

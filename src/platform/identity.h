// What sets this PC apart on the home network: an id the system keeps for the machine (the same
// across restarts, another on another installation), the name the user gave the PC, and the
// system's name and version. Linux: /etc/machine-id (else D-Bus's copy), gethostname, uname;
// Windows: the MachineGuid the system writes at setup, the host name, RtlGetVersion.
// None throws; each reads the system afresh: safe from any thread.
#pragma once
#include <string>

namespace tovi::machine {

// The system's id of this installation as it stores it (hex digits, with dashes on Windows);
// "" when the system keeps none that can be read.
std::string MachineId();

// The PC's name in UTF-8; "" when the system gives none.
std::string ComputerName();

// "<system>/<version>", as discovery and HTTP server headers name the platform: "Linux/6.1.0",
// "Windows/10.0".
std::string SystemProduct();

}  // namespace tovi::machine

// The PC's own IPv4 address as the TVs and the list service should see it, in dotted form.
// Windows: the first address the host's own name resolves to (Windows Sockets 1.1).
// POSIX, where the host's name often resolves to a loopback address: the first IPv4 address of
// the host's name that is not loopback, else the first non-loopback IPv4 address of an interface
// that is up. "" when none is found; never throws. Keeps no state: safe from any thread.
#pragma once
#include <string>

namespace tovi::net {

std::string HostIPv4Address();

}  // namespace tovi::net

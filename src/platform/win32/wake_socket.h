// Winsock waits (select, WSAPoll) end early only for a socket, so a thread that must be woken
// waits on this one beside its own: a byte sent to it makes it readable.
#pragma once
#include <winsock2.h>

namespace tovi::net::detail {

// A non-blocking datagram socket on 127.0.0.1 connected to its own address; INVALID_SOCKET with
// the Windows Sockets error set when the system gives none.
SOCKET OpenWakeSocket();

// Sends it a byte, so that it is readable until read. A full buffer means a wake is pending anyway.
void SetWake(SOCKET wake);

}  // namespace tovi::net::detail

// The errno values of BSD sockets as the Windows Sockets codes platform/socket.h reports.
#pragma once

namespace tovi::net::detail {

int MapErrno(int errnoValue);

}  // namespace tovi::net::detail

#include "http/exceptions.h"

#include "platform/socket.h"

namespace tovi::http {
namespace {

// Texts for the Windows Sockets codes 10004 to 10066, as users of the engines know them.
struct SocketErrorText {
  int code;
  const char* text;
};
constexpr SocketErrorText kSocketErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

}  // namespace

std::string ENetSocketError::DescriptionOf(int code) {
  for (const SocketErrorText& e : kSocketErrorTexts) {
    if (e.code == code) return e.text;
  }
  return {};
}

ENetSocketError::ENetSocketError(int code)
    : ENetException("Socket Error # " + std::to_string(code) + "\r\n" + DescriptionOf(code)),
      lastError_(code) {}

void RaiseLastSocketError() { throw ENetSocketError(net::LastError()); }

}  // namespace tovi::http

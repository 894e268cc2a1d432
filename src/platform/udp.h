// A UDP socket for discovery on the home network: bound to a port that other programs of the PC
// listen on too (the system's own discovery service, another media server), a member of one
// multicast group on one adapter only, and sending its multicast out of that adapter.
// Windows: Winsock 2 (the address-reuse option shares the port beside the system's listener, and
// a send to a closed port does not fail the next receive); POSIX: BSD sockets, also the
// port-reuse option (a listener that set only that one is shared with too), and only the groups
// this socket joined reach it. Each datagram comes with the adapter it arrived on (IP_PKTINFO:
// recvmsg on POSIX, WSARecvMsg on Windows). Failures are Windows Sockets codes, as in
// platform/socket.h.
// Thread safety: one thread uses a socket; Interrupt from any thread while it is open, Close from
// its owner only. Call net::Startup() first.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/socket.h"

namespace tovi::net {

// What Receive took.
struct Datagram {
  std::size_t size = 0;    // bytes placed in the buffer
  bool truncated = false;  // it was longer than the buffer: the rest is lost
  Endpoint from;
  // The adapter it came in on, by the system's index (platform/address.h's AddressLink); 0 when
  // the system did not say.
  std::uint32_t adapterIndex = 0;
};

class MulticastSocket {
 public:
  MulticastSocket() = default;
  ~MulticastSocket();  // closes (the system leaves the group with it)
  MulticastSocket(const MulticastSocket&) = delete;
  MulticastSocket& operator=(const MulticastSocket&) = delete;

  // Binds 0.0.0.0:group.port shared with other listeners of that port, joins group.address on
  // the adapter whose IPv4 address is `adapter`, sends multicast out of that adapter with `ttl`
  // hops and loops it back to this PC's listeners (control points on the same PC see it), and
  // asks for each datagram's arrival adapter.
  // 0, or the Windows Sockets code of the step that failed (the socket is closed then).
  int Open(const Endpoint& group, const Endpoint& adapter, int ttl);
  bool IsOpen() const { return handle_ != kInvalidSocket; }
  void Close();

  // Waits up to timeoutMs for one datagram: 1 with *got set, 0 on time-out (also for a
  // datagram the system reported but could not deliver), -1 on a socket error with *error set.
  int Receive(void* buffer, std::size_t capacity, int timeoutMs, Datagram* got, int* error);
  // Ends the Receive under way and each later one at once, with 0: how the receiving thread is
  // told to stop without looking in between.
  void Interrupt();
  // One datagram to `to` (a multicast group or one peer): 0, or a Windows Sockets code.
  int SendTo(const void* data, std::size_t size, const Endpoint& to);

 private:
  SocketHandle handle_ = kInvalidSocket;
  // Readable once interrupted: POSIX an event counter, Windows a wake socket (receives wait on
  // sockets only there).
  SocketHandle wake_ = kInvalidSocket;
};

}  // namespace tovi::net

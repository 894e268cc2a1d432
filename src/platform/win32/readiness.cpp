// The readiness wait on WSAPoll. WSAPoll cannot be woken by anything but a socket, so the wait
// includes a loopback datagram socket connected to itself, and Wake sends it a byte. Watched
// sockets are kept in a map; each Wait polls them together, and a report removes the socket.
#include "platform/readiness.h"

#include <winsock2.h>

#include <map>
#include <mutex>
#include <system_error>

#include "platform/win32/wake_socket.h"

namespace tovi::net {
using detail::OpenWakeSocket;

struct ReadinessWait::State {
  SOCKET wake = INVALID_SOCKET;
  std::mutex lock;
  std::map<SocketHandle, std::uint64_t> watched;
};

ReadinessWait::ReadinessWait() : state_(std::make_unique<State>()) {
  Startup();
  state_->wake = OpenWakeSocket();
  if (state_->wake == INVALID_SOCKET) {
    throw std::system_error(::WSAGetLastError(), std::system_category(), "readiness wait");
  }
}

ReadinessWait::~ReadinessWait() { ::closesocket(state_->wake); }

bool ReadinessWait::Watch(SocketHandle s, std::uint64_t tag) {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->watched[s] = tag;
  }
  Wake();  // the wait in progress polls only the sockets it started with
  return true;
}

void ReadinessWait::Forget(SocketHandle s) {
  std::lock_guard<std::mutex> guard(state_->lock);
  state_->watched.erase(s);
}

bool ReadinessWait::Wait(int timeoutMs, std::vector<std::uint64_t>& ready) {
  std::vector<WSAPOLLFD> polled;
  std::vector<std::uint64_t> tags;
  polled.push_back({state_->wake, POLLRDNORM, 0});
  tags.push_back(0);
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    for (const auto& [socket, tag] : state_->watched) {
      polled.push_back({static_cast<SOCKET>(socket), POLLRDNORM, 0});
      tags.push_back(tag);
    }
  }
  const int n = ::WSAPoll(polled.data(), static_cast<ULONG>(polled.size()), timeoutMs < 0 ? -1 : timeoutMs);
  if (n == SOCKET_ERROR) return false;
  char drain[64];
  while (::recv(state_->wake, drain, sizeof drain, 0) > 0) {
  }
  std::lock_guard<std::mutex> guard(state_->lock);
  for (std::size_t i = 1; i < polled.size(); ++i) {
    if (polled[i].revents == 0) continue;
    const auto it = state_->watched.find(static_cast<SocketHandle>(polled[i].fd));
    // Forgotten, or watched again under another tag, while the poll ran: not this report's.
    if (it == state_->watched.end() || it->second != tags[i]) continue;
    state_->watched.erase(it);
    ready.push_back(tags[i]);
  }
  return true;
}

void ReadinessWait::Wake() { detail::SetWake(state_->wake); }

}  // namespace tovi::net

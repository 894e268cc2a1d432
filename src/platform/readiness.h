// Many sockets waited on at once, each until it has bytes to read or its peer closed or failed:
// epoll on Linux, WSAPoll on Windows. A socket is reported once per Watch; watch it again for
// the next report. Reports carry the caller's tag; a tag the caller no longer knows (a socket
// forgotten, or reported just before it was forgotten) is the caller's to ignore.
// The caller owns the sockets: it forgets one (or has had its report) before closing it.
// Thread safety: Watch, Forget and Wake from any thread; Wait from one thread at a time.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/socket.h"

namespace tovi::net {

class ReadinessWait {
 public:
  // Throws std::system_error when the system gives no such wait (out of handles).
  ReadinessWait();
  ~ReadinessWait();
  ReadinessWait(const ReadinessWait&) = delete;
  ReadinessWait& operator=(const ReadinessWait&) = delete;

  // False when the socket cannot be watched (the caller then waits for it another way).
  bool Watch(SocketHandle s, std::uint64_t tag);
  void Forget(SocketHandle s);
  // Waits up to timeoutMs (< 0: without limit) or until Wake(), and appends the tags of the
  // sockets that became ready. False when the wait itself failed.
  bool Wait(int timeoutMs, std::vector<std::uint64_t>& ready);
  // Ends the current or next Wait early.
  void Wake();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tovi::net

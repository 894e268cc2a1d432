// A thread waiting in poll or epoll for its own descriptors is woken from another thread through
// an event counter waited on beside them: once set, it stays readable until it is read.
#pragma once
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace tovi::net::detail {

// Non-blocking; -1 with errno set when the system gives none.
inline int OpenWakeCounter() { return ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

// Makes the counter readable. A full counter means a wake is pending anyway.
inline void SetWake(int counter) {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(counter, &one, sizeof one);
}

}  // namespace tovi::net::detail

// The readiness wait on epoll, woken through an eventfd. One-shot registrations: a report
// disarms the socket, and the next Watch arms it again.
#include "platform/readiness.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/posix/wake_counter.h"

namespace tovi::net {
namespace {

constexpr std::uint64_t kWakeTag = ~std::uint64_t{0};
// Reports taken from the system per call; more wait for the next call.
constexpr int kReportsPerWait = 256;

}  // namespace

struct ReadinessWait::State {
  int epoll = -1;
  int wake = -1;
};

ReadinessWait::ReadinessWait() : state_(std::make_unique<State>()) {
  state_->epoll = ::epoll_create1(EPOLL_CLOEXEC);
  state_->wake = detail::OpenWakeCounter();
  epoll_event e{};
  e.events = EPOLLIN;
  e.data.u64 = kWakeTag;
  if (state_->epoll < 0 || state_->wake < 0 ||
      ::epoll_ctl(state_->epoll, EPOLL_CTL_ADD, state_->wake, &e) != 0) {
    const int code = errno;
    if (state_->epoll >= 0) ::close(state_->epoll);
    if (state_->wake >= 0) ::close(state_->wake);
    throw std::system_error(code, std::generic_category(), "readiness wait");
  }
}

ReadinessWait::~ReadinessWait() {
  ::close(state_->epoll);
  ::close(state_->wake);
}

bool ReadinessWait::Watch(SocketHandle s, std::uint64_t tag) {
  epoll_event e{};
  e.events = EPOLLIN | EPOLLRDHUP | EPOLLONESHOT;
  e.data.u64 = tag;
  const int fd = static_cast<int>(s);
  if (::epoll_ctl(state_->epoll, EPOLL_CTL_ADD, fd, &e) == 0) return true;
  // Reported before and disarmed since: arm it again.
  return errno == EEXIST && ::epoll_ctl(state_->epoll, EPOLL_CTL_MOD, fd, &e) == 0;
}

void ReadinessWait::Forget(SocketHandle s) {
  ::epoll_ctl(state_->epoll, EPOLL_CTL_DEL, static_cast<int>(s), nullptr);
}

bool ReadinessWait::Wait(int timeoutMs, std::vector<std::uint64_t>& ready) {
  epoll_event events[kReportsPerWait];
  const int n = ::epoll_wait(state_->epoll, events, kReportsPerWait, timeoutMs < 0 ? -1 : timeoutMs);
  if (n < 0) return errno == EINTR;
  for (int i = 0; i < n; ++i) {
    if (events[i].data.u64 != kWakeTag) {
      ready.push_back(events[i].data.u64);
      continue;
    }
    std::uint64_t count = 0;
    while (::read(state_->wake, &count, sizeof count) > 0) {
    }
  }
  return true;
}

void ReadinessWait::Wake() { detail::SetWake(state_->wake); }

}  // namespace tovi::net

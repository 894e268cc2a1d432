#include "platform/name_lookup.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/detached_thread.h"

namespace tovi::net {
namespace {

std::atomic<int> gPending{0};

// What a lookup thread and its caller share; the thread keeps it alive after the caller left.
struct LookupState {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  int code = kErrHostNotFound;
  Endpoint found;
};

void RunLookup(const std::shared_ptr<LookupState>& state, const NameLookup& lookup,
               const std::string& host) {
  Endpoint found;
  int code = kErrHostNotFound;
  try {
    code = lookup(host, &found);
  } catch (...) {
    // A lookup that fails in any way has found nothing.
  }
  {
    std::lock_guard<std::mutex> hold(state->lock);
    state->code = code;
    state->found = found;
    state->done = true;
  }
  state->finished.notify_all();
}

}  // namespace

int SystemNameLookup(const std::string& host, Endpoint* out) {
  return ResolveIPv4(host, out) == 0 ? 0 : LastError();
}

int LookupIPv4(const std::string& host, Endpoint* out, int timeoutMs,
               const std::function<bool()>& cancelled, const NameLookup& lookup) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point until = timeoutMs > 0
                                      ? Clock::now() + std::chrono::milliseconds(timeoutMs)
                                      : Clock::time_point::max();
  if (gPending.fetch_add(1) >= kMaxPendingLookups) {
    gPending.fetch_sub(1);
    return kErrNoBuffers;
  }
  auto state = std::make_shared<LookupState>();
  const bool started = process::StartDetachedThread(
      [state, run = lookup ? lookup : NameLookup(SystemNameLookup), host] {
        RunLookup(state, run, host);
        gPending.fetch_sub(1);
      });
  if (!started) {
    gPending.fetch_sub(1);
    return kErrNoBuffers;
  }

  std::unique_lock<std::mutex> hold(state->lock);
  while (!state->done) {
    if (cancelled && cancelled()) return kErrInterrupted;
    Clock::time_point wake = Clock::now() + std::chrono::milliseconds(kWakeCheckMs);
    if (until != Clock::time_point::max()) {
      if (Clock::now() >= until) return kErrTimedOut;
      wake = std::min(wake, until);
    }
    state->finished.wait_until(hold, wake);
  }
  if (state->code == 0) std::memcpy(out->address, state->found.address, sizeof out->address);
  return state->code;
}

int PendingLookups() { return gPending.load(); }

}  // namespace tovi::net

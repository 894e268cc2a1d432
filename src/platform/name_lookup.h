// Name lookups that the caller stops waiting for at its time limit or when told to stop. The
// system's resolver cannot be interrupted and may take as long as its own settings allow, so
// each lookup runs on a thread of its own, which the caller leaves behind when it stops
// waiting. A thread left behind ends when the resolver answers; it holds only its own copies
// (the name, the lookup function, the result), never the caller's data.
// kMaxPendingLookups bounds the lookups running at once, those left behind included: a
// resolver that never answers costs at most that many threads, and further lookups fail at
// once until some end.
// Thread safety: any thread, any number at once.
#pragma once
#include <functional>
#include <string>

#include "platform/socket.h"

namespace tovi::net {

inline constexpr int kMaxPendingLookups = 16;

// One lookup as the system makes it: 0 with out->address set, else a Windows Sockets code.
using NameLookup = std::function<int(const std::string& host, Endpoint* out)>;

// The system's resolver (ResolveIPv4) as a NameLookup.
int SystemNameLookup(const std::string& host, Endpoint* out);

// Looks host up with lookup (the system's when empty) and waits for it at most timeoutMs
// (<= 0: no limit). Returns 0 with out->address set (the port untouched); the lookup's own code
// when it failed; kErrTimedOut when the limit ran out; kErrInterrupted when cancelled() turned
// true (asked at least every kWakeCheckMs); kErrNoBuffers when kMaxPendingLookups are
// running already or no thread could be started.
int LookupIPv4(const std::string& host, Endpoint* out, int timeoutMs,
               const std::function<bool()>& cancelled = {}, const NameLookup& lookup = {});

// Lookups running now, those left behind included.
int PendingLookups();

}  // namespace tovi::net

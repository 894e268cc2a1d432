// Threads, open handles and resident memory of this process, for leak checks after a test:
// /proc on Linux, a Toolhelp snapshot and the handle count on Windows.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <sys/resource.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#endif
#include <thread>

namespace tovi::testing {

#ifdef _WIN32
inline long ThreadCount() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry;
  entry.dwSize = sizeof entry;
  long n = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry)) {
    if (entry.th32OwnerProcessID == self) ++n;
  }
  CloseHandle(snap);
  return n;
}
inline long HandleCount() {
  DWORD n = 0;
  return GetProcessHandleCount(GetCurrentProcess(), &n) ? static_cast<long>(n) : -1;
}
// Windows has no per-process limit of this size.
inline bool RaiseOpenHandleLimit(unsigned long) { return true; }
// Not measured: wine's heap keeps what is freed, whatever the program does.
inline long ResidentBytes() { return -1; }
#else
inline long CountEntries(const char* dir) {
  std::error_code ec;
  long n = 0;
  for (auto it = std::filesystem::directory_iterator(dir, ec);
       !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return ec ? -1 : n;
}
inline long ThreadCount() { return CountEntries("/proc/self/task"); }
inline long HandleCount() { return CountEntries("/proc/self/fd"); }
inline long ResidentBytes() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return resident > 0 ? resident * ::sysconf(_SC_PAGESIZE) : -1;
}
// Lifts the soft limit of open files to at least `wanted` where the hard limit allows: many
// machines start processes with 1,024, fewer than a test of a thousand connections needs.
inline bool RaiseOpenHandleLimit(unsigned long wanted) {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0) return false;
  if (r.rlim_cur == RLIM_INFINITY || r.rlim_cur >= wanted) return true;
  if (r.rlim_max != RLIM_INFINITY && r.rlim_max < wanted) return false;
  r.rlim_cur = wanted;
  return ::setrlimit(RLIMIT_NOFILE, &r) == 0;
}
#endif

// The count to compare with once a test's threads have ended: taken after a thread has started
// and ended, so that a helper a runtime starts with the first thread (ThreadSanitizer has one)
// is in it even when the test runs first.
inline long ThreadCountBefore() {
  std::thread([] {}).join();
  return ThreadCount();
}

}  // namespace tovi::testing

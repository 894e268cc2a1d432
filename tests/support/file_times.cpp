#include "support/file_times.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <chrono>
#include <stdexcept>

namespace tovi::testing {

#ifdef _WIN32
void SetModifiedAt(const std::string& path, std::int64_t unixSeconds) {
  const int wideLength = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), wideLength);
  // Backup semantics open a folder as well as a file.
  HANDLE h = CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  ULARGE_INTEGER t;
  t.QuadPart = static_cast<ULONGLONG>(unixSeconds + 11644473600) * 10000000;  // 100 ns from 1601
  FILETIME when{t.LowPart, t.HighPart};
  const bool set = SetFileTime(h, nullptr, nullptr, &when);
  CloseHandle(h);
  if (!set) throw std::runtime_error("cannot set the time of " + path);
}
#else
void SetModifiedAt(const std::string& path, std::int64_t unixSeconds) {
  const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(unixSeconds), 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    throw std::runtime_error("cannot set the time of " + path);
  }
}
#endif

void SetModifiedMinutesAgo(const std::string& path, int minutes) {
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::system_clock::now().time_since_epoch());
  SetModifiedAt(path, now.count() - std::int64_t{minutes} * 60);
}

}  // namespace tovi::testing

#include "support/file_times.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace tovi::testing {

#ifdef _WIN32
void SetModifiedMinutesAgo(const std::string& path, int minutes) {
  const int wideLength = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), wideLength);
  // Backup semantics open a folder as well as a file.
  HANDLE h = CreateFileW(wide.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER t;
  t.LowPart = now.dwLowDateTime;
  t.HighPart = now.dwHighDateTime;
  t.QuadPart -= static_cast<ULONGLONG>(minutes) * 60 * 10000000;  // 100 ns units
  FILETIME when{t.LowPart, t.HighPart};
  const bool set = SetFileTime(h, nullptr, nullptr, &when);
  CloseHandle(h);
  if (!set) throw std::runtime_error("cannot set the time of " + path);
}
#else
void SetModifiedMinutesAgo(const std::string& path, int minutes) {
  std::filesystem::last_write_time(
      std::filesystem::path(path),
      std::filesystem::file_time_type::clock::now() - std::chrono::minutes(minutes));
}
#endif

}  // namespace tovi::testing

// Windows files through the ANSI API, so paths are bytes of the system code page.
#include "platform/files.h"

#include <windows.h>

#include <atomic>

#include "platform/errors.h"

namespace tovi::fs {

const char kSeparator = '\\';

namespace {

[[noreturn]] void ThrowLastError() {
  throw EInOutError::FromCode(static_cast<int>(GetLastError()));
}

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<DirEntry> FindEntries(const std::string& folder, const std::string& mask,
                                  std::uint32_t allowed) {
  std::vector<DirEntry> entries;
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA((folder + mask).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return entries;
  const std::uint32_t excluded = (kAttrHidden | kAttrSystem | kAttrVolumeLabel) & ~allowed;
  do {
    const std::uint32_t attributes = data.dwFileAttributes & kAttrAnyFile;
    if ((attributes & excluded) != 0) continue;
    entries.push_back(DirEntry{data.cFileName, attributes});
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return entries;
}

std::vector<std::string> DriveRoots() {
  std::vector<std::string> roots;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    const UINT type = GetDriveTypeA(root.c_str());
    if (type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR) roots.push_back(root);
  }
  return roots;
}

std::int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return -1;
  }
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string ExecutableDirectory() {
  char buffer[MAX_PATH * 4];
  const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string path(buffer, n);
  return path.substr(0, path.find_last_of("\\/") + 1);
}

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError();
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

ReadOnlyFile::~ReadOnlyFile() { CloseHandle(AsHandle(handle_)); }

std::int64_t ReadOnlyFile::Size() const {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

long ReadOnlyFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD read = 0;
  const DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  if (!ReadFile(AsHandle(handle_), data, want, &read, &at)) {
    return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return static_cast<long>(read);
}

std::intptr_t ReadOnlyFile::NativeHandle() const { return handle_; }

std::string ReadWholeFile(const std::string& path) {
  ReadOnlyFile file(path);
  std::string bytes;
  char buffer[65536];
  for (std::uint64_t offset = 0;;) {
    const long n = file.ReadAt(offset, buffer, sizeof buffer);
    if (n < 0) ThrowLastError();
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  std::string temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; h == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
    temp = path + ".~" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++);
    h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) ThrowLastError();
  }
  if (h == INVALID_HANDLE_VALUE) ThrowLastError();
  DWORD error = 0;
  for (std::size_t done = 0; error == 0 && done < bytes.size();) {
    const std::size_t chunk = bytes.size() - done > 0x100000 ? 0x100000 : bytes.size() - done;
    DWORD written = 0;
    if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(chunk), &written, nullptr)) {
      error = GetLastError();
    } else {
      done += written;
    }
  }
  if (error == 0 && !FlushFileBuffers(h)) error = GetLastError();
  CloseHandle(h);
  if (error == 0 &&
      !MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = GetLastError();
  }
  if (error != 0) {
    DeleteFileA(temp.c_str());
    throw EInOutError::FromCode(static_cast<int>(error));
  }
}

}  // namespace tovi::fs

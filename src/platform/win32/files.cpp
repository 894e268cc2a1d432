// Windows files through the wide API, so every name the file system holds can be reached
// whatever the system code page; the program's paths are UTF-8.
#include "platform/files.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/files_parts.h"
#include "platform/errors.h"
#include "platform/win32/wide.h"

namespace tovi::fs {

const char kSeparator = '\\';

// The file system's own comparisons map each UTF-16 unit alone, whatever the user's language:
// the invariant locale's mapping is that one ("I" and "i" are one name even for a Turkish user).
std::string NameKey(std::string_view name) {
  const std::wstring wide = text::Utf8ToWide(std::string(name));
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  std::wstring upper(wide.size(), L'\0');
  if (LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), size, upper.data(), size,
                    nullptr, nullptr, 0) != size) {
    return std::string(name);
  }
  return text::WideToUtf8(upper);
}

namespace {

[[noreturn]] void ThrowLastError() {
  throw EInOutError::FromCode(static_cast<int>(GetLastError()));
}

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// "C:\..." or "C:/...": a path from a drive's root.
bool FromDriveRoot(const std::string& path) {
  const char letter = static_cast<char>(path.empty() ? 0 : path[0] | 0x20);
  return path.size() >= 3 && letter >= 'a' && letter <= 'z' && path[1] == ':' &&
         (path[2] == '\\' || path[2] == '/');
}

// Such a path as the system's usual form reads it, "." and ".." resolved and its separators
// backslashes, but each name kept whole.
std::string Resolved(const std::string& path) {
  std::vector<std::string> names;
  for (std::size_t start = 3; start <= path.size();) {
    const std::size_t end = std::min(path.find_first_of("\\/", start), path.size());
    const std::string name = path.substr(start, end - start);
    if (name == "..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != ".") {
      names.push_back(name);
    }
    start = end + 1;
  }
  std::string resolved = path.substr(0, 2);
  for (const std::string& name : names) resolved += "\\" + name;
  const bool folder = path.back() == '\\' || path.back() == '/';
  return names.empty() || folder ? resolved + "\\" : resolved;
}

// A path from a drive's root goes to the system in the \\?\ form: the usual form trims a name's
// trailing dots and spaces (a listed "film.mkv." would open "film.mkv", a folder "Series." would
// list "Series") and refuses paths longer than MAX_PATH. Any other path goes as it is.
std::wstring Wide(const std::string& path) {
  if (!FromDriveRoot(path)) return text::Utf8ToWide(path);
  return L"\\\\?\\" + text::Utf8ToWide(Resolved(path));
}

DWORD AttributesOf(const std::string& path) {
  return path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(Wide(path).c_str());
}

}  // namespace

bool FileExists(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSystemFolder(const std::string& folder) {
  wchar_t buffer[MAX_PATH + 1];
  const UINT n = GetWindowsDirectoryW(buffer, MAX_PATH);
  if (n == 0 || n > MAX_PATH) return false;
  std::string windows = text::WideToUtf8(std::wstring(buffer, n));
  if (windows.empty()) return false;
  if (windows.back() != '\\') windows += '\\';
  return folder.size() >= windows.size() &&
         NameKey(folder.substr(0, windows.size())) == NameKey(windows);
}

std::vector<DirEntry> FindEntries(const std::string& folder, const std::string& mask,
                                  std::uint32_t allowed, std::size_t maxEntries) {
  std::vector<DirEntry> entries;
  if (maxEntries == 0) return entries;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(Wide(folder + mask).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return entries;
  const std::uint32_t excluded = (kAttrHidden | kAttrSystem | kAttrVolumeLabel) & ~allowed;
  do {
    const std::uint32_t attributes = data.dwFileAttributes & kAttrAnyFile;
    if ((attributes & excluded) != 0) continue;
    entries.push_back(DirEntry{text::WideToUtf8(data.cFileName), attributes});
  } while (entries.size() < maxEntries && FindNextFileW(search, &data));
  FindClose(search);
  return entries;
}

std::vector<std::string> DriveRoots() {
  std::vector<std::string> roots;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const std::string root = std::string(1, letter) + ":\\";
    const UINT type = GetDriveTypeW(text::Utf8ToWide(root).c_str());
    if (type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR) roots.push_back(root);
  }
  return roots;
}

std::int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return -1;
  }
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<FileStamp> StampOf(const std::string& path) {
  // FILETIME counts 100 ns from 1601; this many seconds lie before 1970.
  constexpr std::int64_t kSecondsBefore1970 = 11644473600;
  constexpr std::uint64_t kTicksPerSecond = 10000000;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (path.empty() || !GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) {
    return std::nullopt;
  }
  FileStamp stamp;
  stamp.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (!stamp.directory) {
    stamp.size = (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  const std::uint64_t ticks = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
  stamp.modifiedSeconds = static_cast<std::int64_t>(ticks / kTicksPerSecond) - kSecondsBefore1970;
  stamp.modifiedNanos = static_cast<std::int32_t>(ticks % kTicksPerSecond * 100);
  return stamp;
}

std::string ExecutableDirectory() {
  std::vector<wchar_t> buffer(32768);  // the longest path the system allows
  const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  const std::string path = text::WideToUtf8(std::wstring(buffer.data(), n));
  return path.substr(0, path.find_last_of("\\/") + 1);
}

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
  // Writers are let in, as on POSIX: a recording in progress plays while its recorder writes on
  // (denied, the open fails while the recorder holds the file, and a recorder that opens it again
  // fails while a TV plays it). Deleting and renaming still wait for the readers.
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowLastError();
  handle_ = reinterpret_cast<std::intptr_t>(h);
}

ReadOnlyFile::~ReadOnlyFile() { CloseHandle(AsHandle(handle_)); }

std::int64_t ReadOnlyFile::Size() const {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(AsHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

std::int64_t ReadOnlyFile::SizeAtOpening() const { return Size(); }

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

namespace detail {

int LastFileError() { return static_cast<int>(GetLastError()); }

std::uint64_t CurrentProcessId() { return GetCurrentProcessId(); }

bool ProcessEnded(std::uint64_t pid) {
  if (pid > 0xFFFFFFFFu) return true;  // no process has such an id
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return GetLastError() == ERROR_INVALID_PARAMETER;  // no such id
  // An ended process whose handle someone still holds keeps its id until then.
  const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended;
}

int CreateExclusive(const std::string& path, const std::string&, std::intptr_t* handle) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  *handle = reinterpret_cast<std::intptr_t>(h);
  return 0;
}

int WriteDurablyAndClose(std::intptr_t handle, const std::string& bytes) {
  HANDLE h = AsHandle(handle);
  DWORD error = 0;
  for (std::size_t done = 0; error == 0 && done < bytes.size();) {
    const std::size_t chunk = bytes.size() - done > 0x100000 ? 0x100000 : bytes.size() - done;
    DWORD written = 0;
    NoteWriteStep("write");
    if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(chunk), &written, nullptr)) {
      error = GetLastError();
    } else {
      done += written;
    }
  }
  if (error == 0) NoteWriteStep("flush");
  if (error == 0 && !FlushFileBuffers(h)) error = GetLastError();
  CloseHandle(h);
  return static_cast<int>(error);
}

int RenameOver(const std::string& from, const std::string& to) {
  NoteWriteStep("rename");
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 0;
  }
  return static_cast<int>(GetLastError());
}

bool MayBeHeldByAnotherProcess(int error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
         error == ERROR_ACCESS_DENIED;  // what a file open without delete sharing answers
}

void RemoveFile(const std::string& path) { DeleteFileW(Wide(path).c_str()); }

}  // namespace detail

}  // namespace tovi::fs

// POSIX files: errno values are reported as the Windows codes the program's texts are made of.
#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

#include "platform/files_parts.h"
#include "platform/errors.h"

namespace tovi::fs {

const char kSeparator = '/';

std::string NameKey(std::string_view name) { return std::string(name); }

namespace {

int WindowsCode(int error) {
  switch (error) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EMFILE: case ENFILE: return 4;
    case EACCES: case EPERM: case EROFS: case EISDIR: case ETXTBSY: return 5;
    case ENOSPC: case EDQUOT: case EFBIG: return 112;
    case ENAMETOOLONG: return 206;
    case EEXIST: return detail::kErrorFileExists;
    case EIO: return 1117;
    default: return 31;
  }
}

[[noreturn]] void ThrowErrno(int error) { throw EInOutError::FromCode(WindowsCode(error)); }

// The Windows search's wildcards: "*" any run, "?" any one character; "*.*" is everything.
bool MatchesMask(const char* name, const char* mask) {
  if (*mask == '\0') return *name == '\0';
  if (*mask == '*') {
    for (const char* rest = name;; ++rest) {
      if (MatchesMask(rest, mask + 1)) return true;
      if (*rest == '\0') return false;
    }
  }
  if (*name == '\0') return false;
  if (*mask != '?' && *mask != *name) return false;
  return MatchesMask(name + 1, mask + 1);
}

// Mount points in /proc/self/mounts escape blanks and backslashes as octal ("\040").
std::string UnescapeMountPath(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      const std::string digits = field.substr(i + 1, 3);
      if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(digits, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

bool StartsWithFolder(const std::string& path, const std::string& folder) {
  return path == folder || path.rfind(folder + "/", 0) == 0;
}

// What a user would browse: removable media and real disks, not the kernel's own file systems.
bool IsBrowsableMount(const std::string& device, const std::string& mountPoint) {
  if (mountPoint == "/") return false;  // listed first anyway
  for (const char* media : {"/media", "/mnt", "/run/media"}) {
    if (StartsWithFolder(mountPoint, media) && mountPoint != media) return true;
  }
  for (const char* system : {"/proc", "/sys", "/dev", "/run", "/boot", "/snap"}) {
    if (StartsWithFolder(mountPoint, system)) return false;
  }
  return device.rfind("/dev/", 0) == 0;
}

// Folder or file: the entry's type where the file system gives it, else (a link, or a file
// system that does not say) what it leads to. What is neither (a link to nothing or in a loop,
// a FIFO, a socket, a device) is a system entry: no listing shows what no request can serve.
std::uint32_t KindOf(const std::string& folder, const dirent& entry) {
  if (entry.d_type == DT_DIR) return kAttrDirectory;
  if (entry.d_type == DT_REG) return kAttrArchive;
  if (entry.d_type != DT_LNK && entry.d_type != DT_UNKNOWN) return kAttrSystem;
  struct stat st;
  const std::string full = folder + entry.d_name;
  if (stat(full.c_str(), &st) != 0) return kAttrSystem;
  return S_ISDIR(st.st_mode) ? kAttrDirectory : S_ISREG(st.st_mode) ? kAttrArchive : kAttrSystem;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  // Only regular files: opening a FIFO or a device would block or never end a stream.
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSystemFolder(const std::string& folder) {
  for (const char* system : {"/proc/", "/sys/", "/dev/", "/run/", "/usr/", "/lib/", "/lib32/",
                             "/lib64/", "/libx32/", "/bin/", "/sbin/", "/etc/", "/boot/",
                             "/snap/"}) {
    if (folder.rfind(system, 0) == 0) return true;
  }
  return false;
}

std::vector<DirEntry> FindEntries(const std::string& folder, const std::string& mask,
                                  std::uint32_t allowed, std::size_t maxEntries) {
  std::vector<DirEntry> entries;
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return entries;
  const bool all = mask == "*.*" || mask == "*" || mask.empty();
  const std::uint32_t excluded = (kAttrHidden | kAttrSystem | kAttrVolumeLabel) & ~allowed;
  while (entries.size() < maxEntries) {
    const dirent* e = readdir(dir);
    if (e == nullptr) break;
    if (!all && !MatchesMask(e->d_name, mask.c_str())) continue;
    DirEntry entry{e->d_name, KindOf(folder, *e)};
    const std::string& name = entry.name;
    if (name.size() > 1 && name[0] == '.' && name != "..") entry.attributes |= kAttrHidden;
    if ((entry.attributes & excluded) != 0) continue;
    entries.push_back(std::move(entry));
  }
  closedir(dir);
  return entries;
}

std::vector<std::string> DriveRoots() {
  std::vector<std::string> roots{"/"};
  std::set<std::string> seen{"/"};
  std::ifstream mounts("/proc/self/mounts");
  std::string device, mountPoint, rest;
  while (mounts >> device >> mountPoint && std::getline(mounts, rest)) {
    const std::string path = UnescapeMountPath(mountPoint);
    if (!IsBrowsableMount(device, path)) continue;
    const std::string root = path + "/";
    if (seen.insert(root).second) roots.push_back(root);
  }
  return roots;
}

std::int64_t FileSize(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return -1;
  return st.st_size;
}

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::nullopt;
  FileStamp stamp;
  stamp.directory = S_ISDIR(st.st_mode);
  stamp.size = stamp.directory ? 0 : st.st_size;
  stamp.modifiedSeconds = static_cast<std::int64_t>(st.st_mtim.tv_sec);
  stamp.modifiedNanos = static_cast<std::int32_t>(st.st_mtim.tv_nsec);
  return stamp;
}

std::string ExecutableDirectory() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return "./";
  std::string path(buffer, static_cast<std::size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

ReadOnlyFile::ReadOnlyFile(const std::string& path) {
  // O_NONBLOCK so that a FIFO put in the file's place cannot block the open; regular files
  // ignore the flag.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) ThrowErrno(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    ThrowErrno(S_ISDIR(st.st_mode) ? EISDIR : EACCES);
  }
  handle_ = fd;
  openedSize_ = st.st_size;
}

ReadOnlyFile::~ReadOnlyFile() { close(static_cast<int>(handle_)); }

std::int64_t ReadOnlyFile::Size() const {
  struct stat st;
  if (fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return st.st_size;
}

std::int64_t ReadOnlyFile::SizeAtOpening() const { return openedSize_; }

long ReadOnlyFile::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
  for (;;) {
    const ssize_t n = pread(static_cast<int>(handle_), data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    return static_cast<long>(n);
  }
}

std::intptr_t ReadOnlyFile::NativeHandle() const { return handle_; }

namespace detail {

int LastFileError() { return WindowsCode(errno); }

std::uint64_t CurrentProcessId() { return static_cast<std::uint64_t>(getpid()); }

bool ProcessEnded(std::uint64_t pid) {
  return pid <= static_cast<std::uint64_t>(INT_MAX) && kill(static_cast<pid_t>(pid), 0) != 0 &&
         errno == ESRCH;
}

int CreateExclusive(const std::string& path, const std::string& permissionsOf,
                    std::intptr_t* handle) {
  // 0666: the umask applies, as for any file the user's programs make.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return WindowsCode(errno == ENOENT ? ENOTDIR : errno);  // the folder is missing
  struct stat old;
  if (stat(permissionsOf.c_str(), &old) == 0 && fchmod(fd, old.st_mode & 07777) != 0) {
    const int error = errno;
    close(fd);
    unlink(path.c_str());
    return WindowsCode(error);
  }
  *handle = fd;
  return 0;
}

int WriteDurablyAndClose(std::intptr_t handle, const std::string& bytes) {
  const int fd = static_cast<int>(handle);
  int error = 0;
  for (std::size_t done = 0; error == 0 && done < bytes.size();) {
    NoteWriteStep("write");
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error = errno;
    else done += static_cast<std::size_t>(n);
  }
  if (error == 0) NoteWriteStep("flush");
  if (error == 0 && fsync(fd) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  return error == 0 ? 0 : WindowsCode(error);
}

int RenameOver(const std::string& from, const std::string& to) {
  NoteWriteStep("rename");
  return rename(from.c_str(), to.c_str()) == 0 ? 0 : WindowsCode(errno);
}

// A rename never waits for readers on POSIX.
bool MayBeHeldByAnotherProcess(int) { return false; }

void RemoveFile(const std::string& path) { unlink(path.c_str()); }

}  // namespace detail

}  // namespace tovi::fs

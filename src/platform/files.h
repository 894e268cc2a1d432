// The file system as the program needs it: existence tests, directory search with an attribute
// filter, drive roots, shared read-only opening, sizes, whole-file reads and atomic rewrites.
// Paths and names are UTF-8 (Windows reaches every name the file system holds through its wide
// API; POSIX passes the bytes on as they are). Nothing here refuses network or device paths:
// callers that take paths from the network check them first.
// Thread safety: every function is independent and may be called from any thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovi::fs {

// Attribute bits of a directory entry, as the Windows search reports them. On POSIX a name
// starting with "." (other than "." and "..") counts as hidden, and read-only is not reported
// (it would cost a query of the disk per entry, and a listing's callers do not need it).
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrVolumeLabel = 0x08;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
inline constexpr std::uint32_t kAttrAnyFile = 0x3F;

struct DirEntry {
  std::string name;           // the entry's own name, no folder
  std::uint32_t attributes = 0;
  bool IsDirectory() const { return (attributes & kAttrDirectory) != 0; }
};

// The folder separator of this platform ("\\" on Windows, "/" on POSIX).
extern const char kSeparator;

// What two names of one folder share exactly when the file system takes them for one name: on
// Windows the name with its letters, of any script, in upper case ("Film.MKV" and "film.mkv",
// "Фильм" and "фильм" are one); on POSIX the name itself, byte for byte.
std::string NameKey(std::string_view name);

bool FileExists(const std::string& path);       // a file, not a directory
bool DirectoryExists(const std::string& path);
// Whether folder (ending with the separator) is the system's own, where no one keeps media: on
// POSIX the kernel's file systems (/proc, /sys, /dev, /run: links there lead round in loops) and
// the installed system (/usr, /lib..., /bin, /sbin, /etc, /boot, /snap); on Windows the Windows
// folder. A walk of a whole drive passes them by. The folders inside them count too.
bool IsSystemFolder(const std::string& folder);

// Entries of folder (which ends with the separator) matching mask ("*.*" or "*": all), in the
// order the file system returns them, "." and ".." included where the system reports them.
// Entries carrying hidden, system or volume-label bits that `allowed` lacks are left out, as the
// Windows search does. At most maxEntries are given (the first the system reports), so that a
// folder of millions costs its caller no more than that. A folder that cannot be searched gives
// an empty list. On POSIX the file system's own entry type says which are folders; only links
// and entries of unknown type cost a query of the disk each.
std::vector<DirEntry> FindEntries(const std::string& folder, const std::string& mask,
                                  std::uint32_t allowed,
                                  std::size_t maxEntries = static_cast<std::size_t>(-1));

// Roots a user would browse: "A:\\" to "Z:\\" for every present drive on Windows; on POSIX "/"
// and the mounted disks and removable media (each ending in "/").
std::vector<std::string> DriveRoots();

// Size in bytes without opening the file for writing; -1 when it cannot be read.
std::int64_t FileSize(const std::string& path);

// What one query of the file system tells of a file or folder without opening it.
struct FileStamp {
  std::int64_t size = 0;        // bytes; 0 for a folder
  // Last change: whole seconds since 1970 (UTC), rounded down, and the nanoseconds past them; two
  // fields, as a count of nanoseconds ends in 2262 and a file's date may be any year.
  std::int64_t modifiedSeconds = 0;
  std::int32_t modifiedNanos = 0;  // 0 to 999999999
  bool directory = false;
};

// The stamp of path (a folder's with or without its separator); nothing when nothing readable
// is there.
std::optional<FileStamp> StampOf(const std::string& path);

// The running executable's folder, ending with the separator.
std::string ExecutableDirectory();

// A file opened read-only; others may read and write it while it is open (a recording in
// progress), but not delete or rename it on Windows.
class ReadOnlyFile {
 public:
  // Throws EInOutError when the file cannot be opened.
  explicit ReadOnlyFile(const std::string& path);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  // Its size now (-1 when it cannot be read): a recording grows while it is read.
  std::int64_t Size() const;
  // Its size when it was opened, for a caller that asks right after: where the opening read the
  // file's facts anyway (POSIX, to refuse what is no regular file) the system is not asked
  // again; elsewhere as Size().
  std::int64_t SizeAtOpening() const;
  // Reads up to size bytes at offset; returns the count read (0 at the end), -1 on error.
  long ReadAt(std::uint64_t offset, void* data, std::size_t size) const;
  std::intptr_t NativeHandle() const;  // fd on POSIX, HANDLE on Windows

 private:
  std::intptr_t handle_;
  std::int64_t openedSize_ = -1;  // POSIX: the size read by the opening
};

// Whole file as bytes. Throws EInOutError when it cannot be opened or read.
std::string ReadWholeFile(const std::string& path);

struct AtomicWriteLimits {
  // An antivirus or the indexer holds a file it scans for a moment; the rename waits this long
  // for it before the write fails.
  int heldFileWaitMs = 1000;
  int heldFileRetryMs = 50;     // pause between tries while it is held
  int temporaryNameTries = 100;  // names already taken by other writers before giving up
};

// Replaces path with bytes atomically (a temporary file "path.~PID-N" in the same folder, then a
// rename), so a crash or a full disk leaves the old file or the new one, never a truncated one.
// Temporary files of writers that died first are removed. Throws EInOutError ("File access
// denied", ...) and leaves the old file when it fails.
void WriteFileAtomically(const std::string& path, const std::string& bytes,
                         const AtomicWriteLimits& limits = {});

}  // namespace tovi::fs

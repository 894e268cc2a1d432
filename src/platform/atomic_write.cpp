// The atomic rewrite both platforms share; the steps that differ are files_parts.h.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/files_parts.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace tovi::fs {

void (*detail::writeStepObserver)(const char* step) = nullptr;

namespace {

constexpr const char* kTemporaryMark = ".~";  // path + ".~PID-N"

struct PathParts {
  std::string folder;  // "" or ending with a separator
  std::string name;
};

PathParts Split(const std::string& path) {
  const std::size_t slash = path.find_last_of(std::string(1, kSeparator) + "/");
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// Removes the temporary files of writers that died before their rename (killed, power cut):
// without this every crash during a write would leave one more beside the file.
void RemoveDeadWritersFiles(const std::string& path) {
  const PathParts parts = Split(path);
  const std::string prefix = parts.name + kTemporaryMark;
  for (const DirEntry& entry : FindEntries(parts.folder, prefix + "*", kAttrAnyFile)) {
    if (entry.IsDirectory() || entry.name.compare(0, prefix.size(), prefix) != 0) continue;
    char* end = nullptr;
    const std::uint64_t pid = std::strtoull(entry.name.c_str() + prefix.size(), &end, 10);
    if (pid == 0 || end == nullptr || *end != '-' || pid == detail::CurrentProcessId()) continue;
    if (detail::ProcessEnded(pid)) detail::RemoveFile(parts.folder + entry.name);
  }
}

// A temporary file of this process beside path, created for writing.
std::string CreateTemporary(const std::string& path, const AtomicWriteLimits& limits,
                            std::intptr_t* handle) {
  static std::atomic<unsigned> counter{0};
  const std::string stem = path + kTemporaryMark + std::to_string(detail::CurrentProcessId()) + "-";
  int error = detail::kErrorFileExists;
  for (int attempt = 0; error == detail::kErrorFileExists && attempt < limits.temporaryNameTries;
       ++attempt) {
    const std::string temp = stem + std::to_string(counter++);
    error = detail::CreateExclusive(temp, path, handle);
    if (error == 0) return temp;
  }
  throw EInOutError::FromCode(error);
}

int ReplaceWaitingWhileHeld(const std::string& temp, const std::string& path,
                            const AtomicWriteLimits& limits) {
  const auto giveUp =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.heldFileWaitMs);
  for (;;) {
    const int error = detail::RenameOver(temp, path);
    // A folder in the file's place refuses like a held file does, but never lets go.
    if (error == 0 || !detail::MayBeHeldByAnotherProcess(error) || DirectoryExists(path) ||
        std::chrono::steady_clock::now() >= giveUp) {
      return error;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(limits.heldFileRetryMs));
  }
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::string& bytes,
                         const AtomicWriteLimits& limits) {
  RemoveDeadWritersFiles(path);
  std::intptr_t handle = 0;
  const std::string temp = CreateTemporary(path, limits, &handle);
  int error = detail::WriteDurablyAndClose(handle, bytes);
  if (error == 0) error = ReplaceWaitingWhileHeld(temp, path, limits);
  if (error != 0) {
    detail::RemoveFile(temp);
    throw EInOutError::FromCode(error);
  }
}

}  // namespace tovi::fs

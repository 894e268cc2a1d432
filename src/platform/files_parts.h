// What the file code both platforms share (files.cpp, atomic_write.cpp) needs of each platform;
// internal to the platform layer. Errors are Windows error codes (POSIX maps its errno values to
// them).
// Thread safety: every function is independent.
#pragma once
#include <cstdint>
#include <string>

namespace tovi::fs::detail {

inline constexpr int kErrorFileExists = 80;  // ERROR_FILE_EXISTS

// The error of the calling thread's last failed file call.
int LastFileError();

std::uint64_t CurrentProcessId();
// True only when no process with this id runs; a live or unknowable one counts as running.
bool ProcessEnded(std::uint64_t pid);

// Creates path, which must not exist yet, for writing; on POSIX it takes the permissions of
// the file at permissionsOf when there is one. 0 and *handle, or the error.
int CreateExclusive(const std::string& path, const std::string& permissionsOf,
                    std::intptr_t* handle);
// Writes all bytes, makes them durable and closes the handle, also after an error.
int WriteDurablyAndClose(std::intptr_t handle, const std::string& bytes);

// Tests watch a rewrite through this: when set, it is told each step as the step is made
// ("write" before each write of bytes, "flush" before they are made durable, "rename" before the
// file is put in place). Null in the program; set only while no other file is being written.
extern void (*writeStepObserver)(const char* step);
inline void NoteWriteStep(const char* step) {
  if (writeStepObserver != nullptr) writeStepObserver(step);
}

// Renames from over to, replacing it.
int RenameOver(const std::string& from, const std::string& to);
// Whether a failed replacement may succeed once another process lets go of the file.
bool MayBeHeldByAnotherProcess(int error);
void RemoveFile(const std::string& path);

}  // namespace tovi::fs::detail

// File reading both platforms share; the calls that differ are files_parts.h.
#include "platform/files.h"

#include "platform/errors.h"
#include "platform/files_parts.h"

namespace tovi::fs {

std::string ReadWholeFile(const std::string& path) {
  ReadOnlyFile file(path);
  std::string bytes;
  char buffer[65536];
  for (std::uint64_t offset = 0;;) {
    const long n = file.ReadAt(offset, buffer, sizeof buffer);
    if (n < 0) throw EInOutError::FromCode(detail::LastFileError());
    if (n == 0) return bytes;
    bytes.append(buffer, static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
}

}  // namespace tovi::fs

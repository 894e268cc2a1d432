#include "media/facts.h"

#include <algorithm>
#include <cstring>

namespace tovi::media {

std::size_t ByteSource::Read(std::uint64_t offset, void* out, std::size_t length) {
  if (reads_ >= kMaxReads || bytesRead_ >= kMaxReadBytes || offset >= Size()) return 0;
  length = static_cast<std::size_t>(
      std::min<std::uint64_t>({length, kMaxReadBytes - bytesRead_, Size() - offset}));
  ++reads_;
  const std::size_t got = ReadAt(offset, out, length);
  bytesRead_ += got;
  return got;
}

std::string ByteSource::ReadString(std::uint64_t offset, std::size_t length) {
  std::string bytes(std::min<std::size_t>(length, kMaxReadBytes), '\0');
  bytes.resize(Read(offset, bytes.data(), bytes.size()));
  return bytes;
}

std::size_t MemorySource::ReadAt(std::uint64_t offset, void* out, std::size_t length) {
  if (offset >= bytes_.size()) return 0;
  const std::size_t n = std::min<std::size_t>(length, bytes_.size() - offset);
  std::memcpy(out, bytes_.data() + offset, n);
  return n;
}

}  // namespace tovi::media

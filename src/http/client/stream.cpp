#include "http/client/stream.h"

#include <algorithm>
#include <cstring>

namespace tovi::http {

std::size_t TNetStream::Write(const char*, std::size_t) {
  throw EStreamError("Unsupported operation.");
}

std::size_t TNetStringStream::Read(char* buffer, std::size_t count) {
  if (position_ >= bytes_.size()) return 0;
  const std::size_t n = std::min(count, bytes_.size() - position_);
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return n;
}

std::size_t TNetStringStream::Write(const char* buffer, std::size_t count) {
  if (position_ > bytes_.size()) bytes_.resize(position_);
  bytes_.replace(position_, std::min(count, bytes_.size() - position_), buffer, count);
  position_ += count;
  return count;
}

std::int64_t TNetStringStream::Seek(std::int64_t offset, SeekOrigin origin) {
  std::int64_t base = 0;
  if (origin == SeekOrigin::Current) base = static_cast<std::int64_t>(position_);
  if (origin == SeekOrigin::End) base = Size();
  position_ = static_cast<std::size_t>(std::max<std::int64_t>(0, base + offset));
  return static_cast<std::int64_t>(position_);
}

}  // namespace tovi::http

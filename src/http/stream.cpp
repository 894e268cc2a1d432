#include "http/stream.h"

#include <cstring>

namespace tovi::http {

std::size_t TMemoryStream::Read(void* data, std::size_t size) {
  if (position_ >= Size()) return 0;
  std::size_t left = data_.size() - static_cast<std::size_t>(position_);
  std::size_t n = size < left ? size : left;
  std::memcpy(data, data_.data() + position_, n);
  position_ += static_cast<std::int64_t>(n);
  return n;
}

std::size_t TMemoryStream::Write(const void* data, std::size_t size) {
  std::size_t at = static_cast<std::size_t>(position_);
  if (at > data_.size()) data_.resize(at);
  std::size_t overlap = data_.size() - at < size ? data_.size() - at : size;
  data_.replace(at, overlap, static_cast<const char*>(data), size);
  position_ += static_cast<std::int64_t>(size);
  return size;
}

}  // namespace tovi::http

// A byte stream as the client's request bodies are read: a size, a rewind, reads in order.
// Instances are not thread-safe; a stream is used by the thread that made it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace tovi::http {

// Raised by streams for operations they do not offer.
class EStreamError : public std::runtime_error {
 public:
  explicit EStreamError(const std::string& message) : std::runtime_error(message) {}
};

enum class SeekOrigin { Beginning, Current, End };

class TNetStream {
 public:
  virtual ~TNetStream() = default;
  // Fills up to count bytes; returns how many, 0 at the end.
  virtual std::size_t Read(char* buffer, std::size_t count) = 0;
  // Streams that only produce bytes raise EStreamError("Unsupported operation.").
  virtual std::size_t Write(const char* buffer, std::size_t count);
  // Returns the position after the move.
  virtual std::int64_t Seek(std::int64_t offset, SeekOrigin origin) = 0;
  virtual std::int64_t Size() = 0;
  std::int64_t Position() { return Seek(0, SeekOrigin::Current); }
};

// A stream over a byte string it owns: reads, writes, seeks anywhere.
class TNetStringStream : public TNetStream {
 public:
  TNetStringStream() = default;
  explicit TNetStringStream(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t Read(char* buffer, std::size_t count) override;
  std::size_t Write(const char* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, SeekOrigin origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(bytes_.size()); }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::size_t position_ = 0;
};

}  // namespace tovi::http

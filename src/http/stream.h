// Byte streams for request and response bodies: a small abstract stream and an in-memory one.
// TStringStream is the "text stream": a body read into one becomes the request's FormText.
// Thread safety: none; a stream belongs to one request on one thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace tovi::http {

class TStream {
 public:
  virtual ~TStream() = default;
  virtual std::int64_t Size() const = 0;
  virtual std::int64_t Position() const = 0;
  virtual void SetPosition(std::int64_t position) = 0;
  // Bytes read (0 at the end) or written.
  virtual std::size_t Read(void* data, std::size_t size) = 0;
  virtual std::size_t Write(const void* data, std::size_t size) = 0;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::string bytes) : data_(std::move(bytes)) {}
  std::int64_t Size() const override { return static_cast<std::int64_t>(data_.size()); }
  std::int64_t Position() const override { return position_; }
  void SetPosition(std::int64_t position) override { position_ = position < 0 ? 0 : position; }
  std::size_t Read(void* data, std::size_t size) override;
  std::size_t Write(const void* data, std::size_t size) override;
  const std::string& Bytes() const { return data_; }
  // Room for this many bytes at once, so that writing them grows nothing.
  void Reserve(std::size_t bytes) { data_.reserve(bytes); }
  // The bytes, taken out: the stream is empty after.
  std::string TakeBytes() {
    std::string bytes = std::move(data_);
    data_.clear();
    position_ = 0;
    return bytes;
  }

 private:
  std::string data_;
  std::int64_t position_ = 0;
};

// Bytes in memory that keep something alive as long as they live (a turn, a share of memory):
// as a response's body, until the engine has sent them or their reader is gone.
template <class Held>
class THoldingMemoryStream : public TMemoryStream {
 public:
  THoldingMemoryStream(std::string bytes, Held held)
      : TMemoryStream(std::move(bytes)), held_(std::move(held)) {}

 private:
  Held held_;
};

class TStringStream : public TMemoryStream {
 public:
  using TMemoryStream::TMemoryStream;
  const std::string& DataString() const { return Bytes(); }
};

}  // namespace tovi::http

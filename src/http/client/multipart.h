// The multipart/form-data body of the client's POSTs: text fields only, produced piece by piece
// while it is sent, its size known before the first byte is read. Names and values go out byte
// for byte (no escaping, no transfer encoding, no Content-Type line per part).
// Not thread-safe: a stream is made, filled, sent and destroyed on one thread.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/stream.h"

namespace tovi::http {

// Raised by streams for operations they do not offer.
class EStreamError : public std::runtime_error {
 public:
  explicit EStreamError(const std::string& message) : std::runtime_error(message) {}
};

// The local date and time a boundary is made from.
struct BoundaryTime {
  int year = 0;    // e.g. 2026
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  static BoundaryTime Now();  // local time
};

struct TNetFormDataField {
  std::string name;
  std::string value;
  std::int64_t partLength = 0;  // bytes of this field's part in the body
};

using TNetFormDataFields = std::vector<TNetFormDataField>;

class TNetMultiPartFormDataStream : public TStream {
 public:
  // The boundary is made once, now, from the local clock.
  TNetMultiPartFormDataStream();
  // The same with a given clock reading (for reproducible bodies).
  explicit TNetMultiPartFormDataStream(const BoundaryTime& at);

  // Eight '-' and fifteen digits: month, day, 2-digit year, hour, minute, second, millisecond.
  static std::string MakeBoundary(const BoundaryTime& at);
  static std::string MakeBoundary() { return MakeBoundary(BoundaryTime::Now()); }

  // Fields should be added before the first read.
  void AddTextField(const std::string& name, const std::string& value);

  const std::string& Boundary() const { return boundary_; }
  // "multipart/form-data; boundary=" + Boundary().
  const std::string& FormContentType() const { return formContentType_; }
  const TNetFormDataFields& Fields() const { return fields_; }

  // The next bytes of the body: count, fewer at its end, 0 once it is exhausted.
  std::size_t Read(void* data, std::size_t count) override;
  // Raises EStreamError("Unsupported operation.").
  std::size_t Write(const void* data, std::size_t size) override;
  // Bytes handed out since the last rewind.
  std::int64_t Position() const override { return position_; }
  // Only 0 rewinds; any other position leaves the stream where it is.
  void SetPosition(std::int64_t position) override;
  // The whole body's length, known before any read.
  std::int64_t Size() const override;

 private:
  std::string ClosingDelimiter() const;  // CR LF "--" boundary "--" CR LF
  std::string PartOf(const TNetFormDataField& field) const;

  std::string boundary_;
  std::string formContentType_;
  TNetFormDataFields fields_;
  std::int64_t total_ = 0;  // sum of the part lengths

  bool started_ = false;
  std::size_t nextField_ = 0;
  std::string pending_;
  std::size_t pendingStart_ = 0;  // bytes of pending_ already handed out
  std::int64_t position_ = 0;
};

}  // namespace tovi::http

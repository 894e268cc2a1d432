#include "http/client/multipart.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace tovi::http {
namespace {

constexpr char kCrLf[] = "\r\n";
constexpr char kDispositionStart[] = "Content-Disposition: form-data; name=\"";

}  // namespace

BoundaryTime BoundaryTime::Now() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  {
    // std::localtime shares one buffer; copy it out under a lock.
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (const std::tm* t = std::localtime(&seconds)) local = *t;
  }
  BoundaryTime at;
  at.year = local.tm_year + 1900;
  at.month = local.tm_mon + 1;
  at.day = local.tm_mday;
  at.hour = local.tm_hour;
  at.minute = local.tm_min;
  at.second = local.tm_sec;
  at.millisecond = static_cast<int>(ms < 0 ? ms + 1000 : ms);
  return at;
}

std::string TNetMultiPartFormDataStream::MakeBoundary(const BoundaryTime& at) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%02d%02d%02d%02d%02d%02d%03d", at.month % 100,
                at.day % 100, at.year % 100, at.hour % 100, at.minute % 100, at.second % 100,
                at.millisecond % 1000);
  return std::string(8, '-') + digits;
}

TNetMultiPartFormDataStream::TNetMultiPartFormDataStream()
    : TNetMultiPartFormDataStream(BoundaryTime::Now()) {}

TNetMultiPartFormDataStream::TNetMultiPartFormDataStream(const BoundaryTime& at)
    : boundary_(MakeBoundary(at)), formContentType_("multipart/form-data; boundary=" + boundary_) {}

void TNetMultiPartFormDataStream::AddTextField(const std::string& name, const std::string& value) {
  TNetFormDataField field{name, value, 0};
  field.partLength = static_cast<std::int64_t>(2 + boundary_.size() + 2 +
                                               std::strlen(kDispositionStart) + name.size() + 1 +
                                               2 + 2 + value.size() + 2);
  total_ += field.partLength;
  fields_.push_back(std::move(field));
}

std::string TNetMultiPartFormDataStream::ClosingDelimiter() const {
  return kCrLf + ("--" + boundary_) + "--" + kCrLf;
}

std::string TNetMultiPartFormDataStream::PartOf(const TNetFormDataField& field) const {
  std::string part;
  part.reserve(static_cast<std::size_t>(field.partLength));
  part += "--";
  part += boundary_;
  part += kCrLf;
  part += kDispositionStart;
  part += field.name;
  part += '"';
  part += kCrLf;
  part += kCrLf;
  part += field.value;
  part += kCrLf;
  return part;
}

std::int64_t TNetMultiPartFormDataStream::Size() const {
  // The closing delimiter follows the last part, so a form without fields yields nothing.
  if (fields_.empty()) return 0;
  return total_ + static_cast<std::int64_t>(ClosingDelimiter().size());
}

std::size_t TNetMultiPartFormDataStream::Write(const void*, std::size_t) {
  throw EStreamError("Unsupported operation.");
}

std::size_t TNetMultiPartFormDataStream::Read(void* data, std::size_t count) {
  char* buffer = static_cast<char*>(data);
  if (!started_) {
    started_ = true;
    nextField_ = 0;
    pending_.clear();
    pendingStart_ = 0;
    position_ = 0;
  }
  std::size_t handed = 0;
  while (handed < count && (nextField_ < fields_.size() || pendingStart_ < pending_.size())) {
    if (pendingStart_ >= pending_.size()) {
      pending_ = PartOf(fields_[nextField_]);
      pendingStart_ = 0;
      ++nextField_;
      if (nextField_ == fields_.size()) pending_ += ClosingDelimiter();
    }
    const std::size_t n = std::min(count - handed, pending_.size() - pendingStart_);
    std::memcpy(buffer + handed, pending_.data() + pendingStart_, n);
    pendingStart_ += n;
    handed += n;
    position_ += static_cast<std::int64_t>(n);
  }
  if (pendingStart_ >= pending_.size()) {
    pending_.clear();
    pendingStart_ = 0;
  }
  return handed;
}

void TNetMultiPartFormDataStream::SetPosition(std::int64_t position) {
  if (position != 0) return;
  started_ = false;
  position_ = 0;
  nextField_ = 0;
  pending_.clear();
  pendingStart_ = 0;
}

}  // namespace tovi::http

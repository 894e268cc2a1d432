#include "http/server/request_scan.h"

#include "http/header_list.h"
#include "platform/ascii.h"
#include "platform/process.h"

#include <utility>

namespace tovi::http {
namespace {

// Freed body memory is returned to the system once no body is held and the bodies held since
// the last return took at least this much; below it the allocator may keep it for reuse.
constexpr std::int64_t kReturnMemoryAfterBytes = 4 * 1024 * 1024;

bool StartsWithName(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (text::LowerAscii(line[i]) != name[i]) return false;
  }
  return true;
}

std::string_view TrimBlanks(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return value;
}

// A plain decimal count, spaces around it allowed; -1 otherwise.
std::int64_t CountValue(std::string_view value) {
  value = TrimBlanks(value);
  if (value.empty() || value.size() > 18) return -1;
  std::int64_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

bool SplitRequestLine(std::string_view line, TNetRequestLine* out) {
  const std::size_t lastSpace = line.rfind(' ');
  if (lastSpace == std::string_view::npos) return false;
  out->version = line.substr(lastSpace + 1);
  const std::string_view rest = line.substr(0, lastSpace);
  const std::size_t firstSpace = rest.find(' ');
  out->method = UpperCase(std::string(rest.substr(0, firstSpace)));
  out->target = firstSpace == std::string_view::npos ? std::string_view()
                                                     : rest.substr(firstSpace + 1);
  return true;
}

TNetHeadScan::State TNetHeadScan::Scan(std::string_view in, const TNetHeadBounds& bounds,
                                       const ReadsHeaderLines& readsHeaderLines) {
  while (state_ == State::Incomplete) {
    const std::size_t from = searched_ < in.size() ? searched_ : in.size();
    const std::size_t lf = in.find('\n', from);
    const std::size_t end = lf == std::string_view::npos ? in.size() : lf;
    examined_ += end - from + (lf == std::string_view::npos ? 0 : 1);
    if (end - lineStart_ > bounds.maxLineBytes) {
      state_ = State::ReadNow;
      break;
    }
    if (lf == std::string_view::npos) {
      searched_ = in.size();
      break;
    }
    std::string_view line = in.substr(lineStart_, end - lineStart_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lineStart_ = searched_ = lf + 1;
    TakeLine(line, bounds, readsHeaderLines);
  }
  return state_;
}

void TNetHeadScan::TakeLine(std::string_view line, const TNetHeadBounds& bounds,
                            const ReadsHeaderLines& readsHeaderLines) {
  if (lines_ == 0 && line.empty()) {
    // An empty line where a request line is due (older clients send one after a POST body) is
    // passed over, within the head's bounds.
    boundBytes_ += 2;
    if (bounds.Exceeded(++leadingLines_, boundBytes_)) state_ = State::ReadNow;
    return;
  }
  if (lines_ == 0) {
    TNetRequestLine parts;
    if (SplitRequestLine(line, &parts)) requestLine_ = std::move(parts);
    if (!requestLine_ || !readsHeaderLines(*requestLine_)) {
      state_ = State::ReadNow;
      return;
    }
  }
  if (lines_ > 0 && line.empty()) {
    headBytes_ = lineStart_;
    state_ = State::Complete;
    return;
  }
  boundBytes_ += line.size() + 2;
  if (lines_ > 0 && bounds.Exceeded(lines_, boundBytes_)) {
    state_ = State::ReadNow;
    return;
  }
  ++lines_;
  if (StartsWithName(line, "content-length")) {
    const std::int64_t n = CountValue(line.substr(15));
    // Two different lengths: none is believed (the reading decides).
    contentLength_ = contentLength_ >= 0 && contentLength_ != n ? -1 : n;
  } else if (StartsWithName(line, "transfer-encoding")) {
    transferCoded_ = true;
  } else if (StartsWithName(line, "expect")) {
    expectsContinue_ = expectsContinue_ || SameText(TrimBlanks(line.substr(7)), "100-continue");
  }
}

bool TNetBodyBudget::Take(const std::string& peer, std::int64_t bytes) {
  {
    const std::lock_guard<std::mutex> lock(peersLock_);
    std::int64_t& mine = byPeer_[peer];
    if (mine + bytes > perPeer_) {
      if (mine == 0) byPeer_.erase(peer);
      return false;
    }
    mine += bytes;
  }
  std::int64_t held = held_.load();
  do {
    if (held + bytes > bound_) {
      const std::lock_guard<std::mutex> lock(peersLock_);
      if ((byPeer_[peer] -= bytes) <= 0) byPeer_.erase(peer);
      return false;
    }
  } while (!held_.compare_exchange_weak(held, held + bytes));
  std::int64_t peak = peak_.load();
  while (held + bytes > peak && !peak_.compare_exchange_weak(peak, held + bytes)) {
  }
  return true;
}

void TNetBodyBudget::Give(const std::string& peer, std::int64_t bytes) {
  if (bytes <= 0) return;
  {
    const std::lock_guard<std::mutex> lock(peersLock_);
    const auto it = byPeer_.find(peer);
    if (it != byPeer_.end() && (it->second -= bytes) <= 0) byPeer_.erase(it);
  }
  if (held_.fetch_sub(bytes) != bytes) return;
  if (peak_.exchange(0) >= kReturnMemoryAfterBytes) process::ReturnFreeMemory();
}

bool TNetBodyBytes::HoldTotal(const std::shared_ptr<TNetBodyBudget>& budget,
                              const std::string& peer, std::int64_t total) {
  if (budget_ != budget || peer_ != peer) Release();
  if (!budget) return true;
  if (total > held_) {
    if (!budget->Take(peer, total - held_)) return false;
  } else if (total < held_) {
    budget->Give(peer, held_ - total);
  }
  budget_ = budget;
  peer_ = peer;
  held_ = total;
  return true;
}

void TNetBodyBytes::Release() {
  if (budget_ && held_ > 0) budget_->Give(peer_, held_);
  budget_.reset();
  held_ = 0;
}

}  // namespace tovi::http

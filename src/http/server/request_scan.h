// TNetHeadScan, TNetBodyBudget, TNetRequestProgress: what the HTTP server knows of a request
// still arriving, kept with its connection from one turn to the next while the connection waits
// idle in between: where the head ends (looked for only in the bytes that came since the last
// look, so a head trickled byte by byte costs linear work), how long the body announced is, and
// the body bytes it holds against the server's one bound on memory for all bodies
// (TNetBodyBudget).
// Thread safety: a scan belongs to its connection's thread of the moment; a budget is shared by
// all connections of a server and safe from any thread.
#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tovi::http {

// A request line's parts: the method in upper case, the target (it may hold spaces; empty
// without one), the text after the last space.
struct TNetRequestLine {
  std::string method;
  std::string target;
  std::string version;
};

// False when the line has no space: the loop then fails with "Error in parsing command.".
bool SplitRequestLine(std::string_view line, TNetRequestLine* out);

// Bounds a head is read within; past one, reading refuses it (the connection closes).
struct TNetHeadBounds {
  std::size_t maxLineBytes;
  int maxHeaderLines;
  std::size_t maxHeadBytes;

  // Whether a head of this many header lines and bytes so far (the request line included, each
  // line with its CR LF) is past a bound.
  bool Exceeded(int headerLines, std::size_t headBytes) const {
    return headerLines > maxHeaderLines || headBytes > maxHeadBytes;
  }
};

class TNetHeadScan {
 public:
  enum class State {
    Incomplete,  // more bytes are needed
    Complete,    // HeadBytes() bytes make the head, empty line included
    ReadNow,     // over a bound, or a line without header lines: reading decides at once
  };

  // readsHeaderLines(parts): whether header lines follow a request line of these parts.
  using ReadsHeaderLines = std::function<bool(const TNetRequestLine&)>;

  // For the next request: what follows in the buffer is its first byte.
  void Reset() { *this = TNetHeadScan(); }
  // Looks at `in` past what it looked at before (the caller only appends between calls until
  // Reset). The request line is split once, here; a line without a space reads at once.
  State Scan(std::string_view in, const TNetHeadBounds& bounds,
             const ReadsHeaderLines& readsHeaderLines);
  State Current() const { return state_; }
  // The parts of the request line at the front of the input, once the scan has split it; null
  // before, or when it had no space.
  const TNetRequestLine* RequestLine() const { return requestLine_ ? &*requestLine_ : nullptr; }
  std::size_t HeadBytes() const { return headBytes_; }
  // The Content-Length the head announced (-1: none, not a plain number, or a transfer coding
  // beside it, which the body goes by).
  std::int64_t ContentLength() const { return transferCoded_ ? -1 : contentLength_; }
  // The head asks for "100 Continue" before it sends its body (Expect: 100-continue).
  bool ExpectsContinue() const { return expectsContinue_; }
  // Bytes looked at since Reset: each byte of the input once.
  std::size_t BytesExamined() const { return examined_; }

 private:
  void TakeLine(std::string_view line, const TNetHeadBounds& bounds,
                const ReadsHeaderLines& readsHeaderLines);

  State state_ = State::Incomplete;
  std::size_t lineStart_ = 0;  // where the line being received begins
  std::size_t searched_ = 0;   // bytes already searched for a line end
  std::size_t headBytes_ = 0;
  std::size_t boundBytes_ = 0;  // counted against maxHeadBytes: lines with CR LF each
  int lines_ = 0;
  int leadingLines_ = 0;  // empty lines before the request line
  std::int64_t contentLength_ = -1;
  bool expectsContinue_ = false;
  bool transferCoded_ = false;
  std::size_t examined_ = 0;
  std::optional<TNetRequestLine> requestLine_;
};

// The memory all request bodies held at once may take together, and of it one peer address's
// share; a body that would pass either is refused (its connection closed), so that one device's
// bodies never leave another's without room. When the last held byte is given back after a
// large use, the process returns freed memory to the system.
class TNetBodyBudget {
 public:
  TNetBodyBudget(std::int64_t bound, std::int64_t perPeer)
      : bound_(bound), perPeer_(std::min(perPeer, bound)) {}
  std::int64_t Bound() const { return bound_; }
  std::int64_t Held() const { return held_.load(); }
  bool Take(const std::string& peer, std::int64_t bytes);
  void Give(const std::string& peer, std::int64_t bytes);

 private:
  const std::int64_t bound_;
  const std::int64_t perPeer_;
  std::atomic<std::int64_t> held_{0};
  std::atomic<std::int64_t> peak_{0};  // since memory was last returned
  std::mutex peersLock_;
  std::unordered_map<std::string, std::int64_t> byPeer_;  // guarded by peersLock_
};

// Bytes of one body held against a budget; given back when released or destroyed.
class TNetBodyBytes {
 public:
  TNetBodyBytes() = default;
  ~TNetBodyBytes() { Release(); }
  TNetBodyBytes(const TNetBodyBytes&) = delete;
  TNetBodyBytes& operator=(const TNetBodyBytes&) = delete;

  // Holds `total` bytes in all (more or fewer than now); false, holding what it held, when the
  // budget has no room.
  bool HoldTotal(const std::shared_ptr<TNetBodyBudget>& budget, const std::string& peer,
                 std::int64_t total);
  void Release();
  std::int64_t Held() const { return held_; }

 private:
  std::shared_ptr<TNetBodyBudget> budget_;
  std::string peer_;
  std::int64_t held_ = 0;
};

// A connection's request in progress, between the turns of the server's request loop.
struct TNetRequestProgress {
  using Clock = std::chrono::steady_clock;
  TNetHeadScan scan;
  bool bodyTimed = false;  // bodyDeadline set: the head is complete and a body is awaited
  bool continued = false;  // "100 Continue" sent for this request's body
  Clock::time_point bodyDeadline{};
  TNetBodyBytes body;      // held for the bytes of the body buffered or read so far
  // A head the scan found complete, taken off the input in one piece; its lines are read from
  // here (headRead: how far), so the bytes behind it move once, not at every line.
  std::string head;
  std::size_t headRead = 0;

  void Reset() {
    scan.Reset();
    bodyTimed = false;
    continued = false;
    body.Release();
    head.clear();
    headRead = 0;
  }
};

}  // namespace tovi::http

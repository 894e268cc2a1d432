// Runs a compiled Program over an input by depth-first backtracking. The backtracking state
// lives on a heap stack, not the call stack, so input length never threatens the thread's
// stack; the work of one search is bounded by a step limit and a frame limit (EPattern 1016).
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "regex/program.h"

namespace tovi::regex {

struct Captures {
  std::array<std::int64_t, kMaxGroups> start;
  std::array<std::int64_t, kMaxGroups> end;
};

class Matcher {
 public:
  // Keeps references to all three; input need not be zero-terminated.
  Matcher(const Program& program, const Tables& tables, const std::uint8_t* input,
          std::int64_t length, std::int64_t stepLimit);

  // Finds the leftmost match from offset 0; fills every group (-1 for unset) when found.
  bool Search(Captures* groups);

 private:
  enum FrameKind : std::uint8_t {
    kUndoStart, kUndoEnd, kUndoLoop,                                   // state to restore
    kAltBranch, kAltRepGreedy, kAltRepLazy, kAltLoopExit, kAltLoopMore  // ways still to try
  };
  struct Frame {
    FrameKind kind;
    std::uint8_t index;
    std::int32_t node;
    std::int64_t pos;
    std::int64_t value;
  };
  struct Repeat {
    int atom;
    std::int64_t min, max;
    int next;
    int literal;        // first byte of a case-sensitive literal that must follow, or -1
    const char* literalText;  // that whole literal (zero-terminated)
    std::int64_t unit;  // bytes per repetition; -1 for a back-reference without text
  };

  bool TryAt(std::int64_t start);
  bool Advance(int& node, std::int64_t& pos);
  bool Backtrack(int& node, std::int64_t& pos);
  bool Resume(const Frame& f, int& node, std::int64_t& pos);

  Repeat RepeatOf(int node) const;
  bool EnterRepeat(int& node, std::int64_t& pos);
  bool GreedyFrom(int& node, std::int64_t& pos, const Repeat& r, std::int64_t base,
                  std::int64_t count);
  bool LazyFrom(int& node, std::int64_t& pos, const Repeat& r, std::int64_t base,
                std::int64_t count);
  std::int64_t CountMatches(const Repeat& r, std::int64_t pos, std::int64_t limit);
  bool LiteralFollows(const Repeat& r, std::int64_t pos) const;
  bool AtomMatches(const Repeat& r, std::int64_t pos) const;

  bool LoopStep(int& node, std::int64_t& pos, bool lazy);
  bool LoopMore(int& node);
  bool LoopExit(int& node);
  void LoopBounds(int loopNode, int* entry, std::int64_t* min, std::int64_t* max) const;

  bool MatchOne(int node, std::int64_t pos) const;
  bool MatchBackRef(int group, bool ignoreCase, std::int64_t pos) const;
  bool IsWordAt(std::int64_t pos) const;
  bool AtLineStart(std::int64_t pos) const;
  bool AtLineEnd(std::int64_t pos) const;
  int Next(int node) const;
  int NextLiteralNode(int node) const;

  void Push(FrameKind kind, int index, int node, std::int64_t pos, std::int64_t value);
  void Step() {
    if (++steps_ > stepLimit_) Exceeded();
  }
  void Charge(std::int64_t bytesScanned) { steps_ += bytesScanned >> 8; }
  [[noreturn]] void Exceeded() const;

  const std::vector<std::uint8_t>& code_;
  const Prefilter& prefilter_;
  const Tables& tables_;
  const std::uint8_t* in_;
  std::int64_t len_;
  std::int64_t stepLimit_;
  std::int64_t steps_ = 0;
  std::vector<Frame> frames_;
  Captures groups_{};
  std::array<std::int64_t, kMaxLoopDepth + 1> loopCount_{};
  int loopDepth_ = 0;
  bool matched_ = false;
  std::int64_t matchEnd_ = 0;
};

}  // namespace tovi::regex

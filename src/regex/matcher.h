// Runs a compiled Program over an input by depth-first backtracking: the leftmost start position
// wins, and at it the first way through the pattern. The backtracking state lives on a heap
// stack, not the call stack; a MatchBudget bounds the work and memory of one search (EPattern
// 1016, 1017).
//
// Two paths share the interpreter. The accelerated one (the default) skips what the analysis
// proves hopeless: start positions, choices whose path cannot begin with the byte at hand,
// repeated scans for a literal (remembered per search), undo records no choice can need. The
// plain one tries every start position and every choice. Both find the same match; the plain
// path is the reference the tests hold the accelerated one to.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "regex/budget.h"
#include "regex/literal_scan.h"
#include "regex/program.h"

namespace tovi::regex {

struct Captures {
  std::array<std::int64_t, kMaxGroups> start;
  std::array<std::int64_t, kMaxGroups> end;
};

enum class MatchPath { kAccelerated, kPlain };

class Matcher {
 public:
  // Keeps references to the program and the input, which need not be zero-terminated.
  Matcher(const Program& program, const std::uint8_t* input, std::int64_t length,
          const TPatternLimits& limits, MatchPath path = MatchPath::kAccelerated);

  // Finds the leftmost match from offset 0; fills every group (-1 for unset) when found.
  bool Search(Captures* groups);

 private:
  enum FrameKind : std::uint8_t {
    kUndoSlot, kUndoLoop,                                              // state to restore
    kAltBranch, kAltRepGreedy, kAltRepLazy, kAltLoopExit, kAltLoopMore  // ways still to try
  };
  struct Frame {
    std::int64_t pos;    // where the way resumes; for an undo, the value to restore
    std::int64_t value;  // a repetition's count; for an undo, the second value to restore
    std::int32_t node;   // where the way resumes; for a loop undo, the depth to restore
    FrameKind kind;
    std::uint8_t index;  // the slot or loop level an undo restores
  };
  struct Repeat {  // a repetition of a single-byte node or back-reference, as met
    RepeatShape shape;
    int next;
    std::int64_t unit;  // bytes per repetition; -1 for a back-reference without text
  };

  bool SearchAccelerated();
  bool SearchPlain();
  std::int64_t NextCandidate(std::int64_t from);
  bool RequiredLiteralsFrom(std::int64_t start);

  bool TryAt(std::int64_t start);
  bool Run(int node, std::int64_t pos);
  bool Backtrack(int& node, std::int64_t& pos);
  bool Resume(const Frame& f, int& node, std::int64_t& pos);

  const ByteSet* GuardOf(int node) const;
  bool Admits(int node, std::int64_t pos) const;
  int ViableAlternative(int branch, std::int64_t pos);
  bool EnterBranch(int& node, std::int64_t pos);

  Repeat RepeatAt(int node) const;
  bool EnterRepeat(int& node, std::int64_t& pos);
  bool GreedyFrom(int& node, std::int64_t& pos, const Repeat& r, std::int64_t base,
                  std::int64_t count);
  bool LazyFrom(int& node, std::int64_t& pos, const Repeat& r, std::int64_t base,
                std::int64_t count);
  bool LazyAdvance(int node, const Repeat& r, std::int64_t base, std::int64_t* count);
  bool ResumeLazy(int& node, std::int64_t& pos, std::int64_t base, std::int64_t count);
  std::int64_t CountMatches(const Repeat& r, std::int64_t pos, std::int64_t limit);
  bool AtomMatches(const Repeat& r, std::int64_t pos);

  void EnterLoop();
  bool LoopStep(int& node, std::int64_t pos, bool lazy);
  bool LoopMore(int& node, std::int64_t pos);
  bool LoopExit(int& node, bool emptyPass);
  LoopShape CheckedLoop(int loopNode) const;

  bool TakesByte(int node, std::int64_t pos) const;
  bool MatchLiteral(int node, std::int64_t& pos);
  bool MatchBackRef(int group, bool ignoreCase, std::int64_t pos);
  bool IsWordAt(std::int64_t pos) const;
  bool AtLineStart(std::int64_t pos) const;
  bool AtLineEnd(std::int64_t pos) const;
  std::int64_t GroupLength(int group) const;
  int Follow(int node) const;

  void SetSlot(int slot, std::int64_t pos);
  void PushChoice(FrameKind kind, int node, std::int64_t pos, std::int64_t value);
  void PushUndoLoop(int level);
  void Push(const Frame& f);

  const Program& program_;
  const Code& code_;
  const Tables& tables_;
  const std::uint8_t* in_;
  std::int64_t len_;
  bool accelerate_;
  MatchBudget budget_;
  std::vector<Frame> frames_;

  // Group n starts at slots_[2n] and ends at slots_[2n + 1]; -1 when unset. Set by TryAt.
  std::array<std::int64_t, 2 * kMaxGroups> slots_;
  // The choice count when each slot's live undo record was pushed (-1: none): a slot written
  // again before any new choice needs no second record. Set by TryAt.
  std::array<std::int64_t, 2 * kMaxGroups> slotChoice_;
  std::int64_t choices_ = 0;  // choices pushed so far in this search

  std::array<std::int64_t, kMaxLoopDepth + 1> loopCount_{};
  std::array<std::int64_t, kMaxLoopDepth + 1> loopStart_{};  // where the current pass began
  int loopDepth_ = 0;
  std::int64_t matchEnd_ = 0;

  std::vector<LiteralScan> scans_;  // one per Program::scanned (none on the plain path)
};

}  // namespace tovi::regex

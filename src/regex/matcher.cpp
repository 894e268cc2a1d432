#include "regex/matcher.h"

#include <algorithm>
#include <cstring>

#include "regex/case_map.h"

namespace tovi::regex {
namespace {

[[noreturn]] void Raise(PatternError code) { throw EPattern(code, -1); }

bool IsSingleByte(Op op) { return (op >= kAny && op <= kAnyMl) || (op >= kDigit && op <= kAnyOfSet); }

}  // namespace

Matcher::Matcher(const Program& program, const std::uint8_t* input, std::int64_t length,
                 const TPatternLimits& limits, MatchPath path)
    : program_(program),
      code_(program.code),
      tables_(program.tables),
      in_(input),
      len_(length),
      accelerate_(path == MatchPath::kAccelerated && program.hints.size() == program.code.size()),
      budget_(limits) {
  if (!accelerate_) return;
  scans_.reserve(program.scanned.size());
  for (const ScannedLiteral& s : program.scanned) {
    scans_.emplace_back(LiteralText(code_, s.node), KindAt(code_, s.node) == kExactlyCi,
                        ProbePair{s.rare, s.second});
  }
}

// ---- the search over start positions ----

bool Matcher::Search(Captures* groups) {
  if (code_.size() <= static_cast<std::size_t>(kFirstNode) || code_[0] != kCheckByte) {
    Raise(kErrCorruptedProgram);
  }
  if (!(accelerate_ ? SearchAccelerated() : SearchPlain())) return false;
  for (int g = 0; g < kMaxGroups; ++g) {
    groups->start[g] = slots_[2 * g];
    groups->end[g] = slots_[2 * g + 1];
  }
  return true;
}

bool Matcher::SearchPlain() {
  for (std::int64_t s = 0; s <= len_; ++s) {
    if (TryAt(s)) return true;
  }
  return false;
}

bool Matcher::SearchAccelerated() {
  for (std::int64_t s = NextCandidate(0); s >= 0; s = NextCandidate(s + 1)) {
    if (!RequiredLiteralsFrom(s)) return false;
    if (TryAt(s)) return true;
    if (program_.prefilter.anchored) return false;
  }
  return false;
}

// The first position at or after from where a match could start, or -1.
std::int64_t Matcher::NextCandidate(std::int64_t from) {
  const Prefilter& pf = program_.prefilter;
  if (from > len_) return -1;
  if (pf.anchored) return from == 0 ? 0 : -1;
  if (pf.firstLiteral >= 0) return scans_[pf.firstLiteral].NextAt(in_, len_, from, budget_);
  if (!pf.useFirstSet) return from;
  std::int64_t s = from;
  while (s < len_ && !pf.firstSet.Has(in_[s])) ++s;
  budget_.Charge(s - from);
  return s < len_ ? s : -1;
}

// A match from start passes through every required literal at or after start; when one occurs
// nowhere from here, no later start can match either.
bool Matcher::RequiredLiteralsFrom(std::int64_t start) {
  for (int literal : program_.prefilter.required) {
    if (scans_[literal].NextAt(in_, len_, start, budget_) < 0) return false;
  }
  return true;
}

bool Matcher::TryAt(std::int64_t start) {
  budget_.Charge(2 * MatchBudget::kStepCost);  // resets every slot
  slots_.fill(-1);
  slotChoice_.fill(-1);
  frames_.clear();
  loopDepth_ = 0;
  if (!Run(kFirstNode, start)) return false;
  slots_[0] = start;
  slots_[1] = matchEnd_;
  return true;
}

// ---- the interpreter ----

int Matcher::Follow(int node) const {
  int next = NextNode(code_, node);
  if (next < 0) Raise(kErrCorruptedPointers);
  return next;
}

bool Matcher::Run(int node, std::int64_t pos) {
  for (;;) {
    budget_.Step();
    const Op op = KindAt(code_, node);
    bool ok = true;
    switch (op) {
      case kEnd:
        matchEnd_ = pos;
        return true;
      case kBol:
        ok = pos == 0;
        break;
      case kEol:
        ok = pos == len_;
        break;
      case kBolMl:
        ok = AtLineStart(pos);
        break;
      case kEolMl:
        ok = AtLineEnd(pos);
        break;
      case kAny: case kAnyMl: case kDigit: case kNotDigit:
      case kAnyOfTiny: case kAnyButTiny: case kAnyOfSet:
        ok = TakesByte(node, pos);
        pos += ok;
        break;
      case kExactly: case kExactlyCi:
        ok = MatchLiteral(node, pos);
        break;
      case kBranch:
        if (EnterBranch(node, pos)) continue;
        ok = false;
        break;
      case kBack: case kNothing: case kComment:
        break;
      case kOpen: case kClose: {
        int g = GroupNumber(code_, node);
        if (g <= 0 || g >= kMaxGroups) Raise(kErrMemoryCorruption);
        SetSlot(2 * g + (op == kClose), pos);
        break;
      }
      case kBackRef: case kBackRefCi: {
        int g = GroupNumber(code_, node);
        ok = MatchBackRef(g, op == kBackRefCi, pos);
        if (ok) pos += GroupLength(g);
        break;
      }
      case kBound: case kNotBound:
        ok = (IsWordAt(pos - 1) != IsWordAt(pos)) == (op == kBound);
        break;
      case kStar: case kStarLazy: case kPlus: case kPlusLazy: case kBraces: case kBracesLazy:
        if (EnterRepeat(node, pos)) continue;
        ok = false;
        break;
      case kLoopEntry:
        EnterLoop();
        break;
      case kLoop: case kLoopLazy:
        if (LoopStep(node, pos, op == kLoopLazy)) continue;
        ok = false;
        break;
      default:
        Raise(kErrMemoryCorruption);
    }
    if (ok) {
      node = Follow(node);
    } else if (!Backtrack(node, pos)) {
      return false;
    }
  }
}

bool Matcher::Backtrack(int& node, std::int64_t& pos) {
  while (!frames_.empty()) {
    Frame f = frames_.back();
    frames_.pop_back();
    switch (f.kind) {
      case kUndoSlot:
        slots_[f.index] = f.pos;
        slotChoice_[f.index] = f.value;
        break;
      case kUndoLoop:
        loopCount_[f.index] = f.pos;
        loopStart_[f.index] = f.value;
        loopDepth_ = f.node;
        break;
      default:
        budget_.Step();
        node = f.node;
        pos = f.pos;
        if (Resume(f, node, pos)) return true;
        break;
    }
  }
  return false;
}

bool Matcher::Resume(const Frame& f, int& node, std::int64_t& pos) {
  switch (f.kind) {
    case kAltBranch:
      return EnterBranch(node, pos);
    case kAltRepGreedy:
      return GreedyFrom(node, pos, RepeatAt(node), f.pos, f.value);
    case kAltRepLazy:
      return ResumeLazy(node, pos, f.pos, f.value);
    case kAltLoopExit:
      return LoopExit(node, false);
    case kAltLoopMore:
      return LoopMore(node, pos);
    default:
      Raise(kErrCorruptedPointers);
  }
}

// ---- the backtracking stack ----

void Matcher::Push(const Frame& f) {
  budget_.MakeRoom(frames_);
  frames_.push_back(f);
}

void Matcher::PushChoice(FrameKind kind, int node, std::int64_t pos, std::int64_t value) {
  ++choices_;
  Push(Frame{pos, value, node, kind, 0});
}

void Matcher::SetSlot(int slot, std::int64_t pos) {
  // Backtracking to the latest choice restores the slot through its live record already.
  if (!(accelerate_ && slotChoice_[slot] == choices_)) {
    Push(Frame{slots_[slot], slotChoice_[slot], 0, kUndoSlot, static_cast<std::uint8_t>(slot)});
    slotChoice_[slot] = choices_;
  }
  slots_[slot] = pos;
}

void Matcher::PushUndoLoop(int level) {
  Push(Frame{loopCount_[level], loopStart_[level], loopDepth_, kUndoLoop, static_cast<std::uint8_t>(level)});
}

// ---- alternatives ----

// The byte set of node's hint, or null when there is none or the path is plain.
const ByteSet* Matcher::GuardOf(int node) const {
  if (!accelerate_) return nullptr;
  std::int32_t guard = program_.hints[node].guard;
  return guard < 0 ? nullptr : &program_.guards[guard];
}

// Whether the path that a hint of node describes can begin at pos.
bool Matcher::Admits(int node, std::int64_t pos) const {
  const ByteSet* guard = GuardOf(node);
  return guard == nullptr || (pos < len_ && guard->Has(in_[pos]));
}

// The first alternative from branch on whose path pos can begin, or -1.
int Matcher::ViableAlternative(int branch, std::int64_t pos) {
  while (branch >= 0 && !Admits(branch, pos)) {
    budget_.Charge(MatchBudget::kPassCost);
    branch = NextAlternative(code_, branch);
  }
  return branch;
}

bool Matcher::EnterBranch(int& node, std::int64_t pos) {
  int branch = ViableAlternative(node, pos);
  if (branch < 0) return false;
  int later = NextAlternative(code_, branch);
  if (later >= 0) later = ViableAlternative(later, pos);
  if (later >= 0) PushChoice(kAltBranch, later, pos, 0);
  node = OperandAt(branch);
  return true;
}

// ---- repetitions of a single-byte node or a back-reference ----

Matcher::Repeat Matcher::RepeatAt(int node) const {
  Repeat r{RepeatOf(code_, node), Follow(node), 1};
  if (IsBackRef(KindAt(code_, r.shape.atom))) r.unit = GroupLength(GroupNumber(code_, r.shape.atom));
  return r;
}

bool Matcher::AtomMatches(const Repeat& r, std::int64_t pos) {
  const Op op = KindAt(code_, r.shape.atom);
  if (IsBackRef(op)) return MatchBackRef(GroupNumber(code_, r.shape.atom), op == kBackRefCi, pos);
  return TakesByte(r.shape.atom, pos);
}

std::int64_t Matcher::CountMatches(const Repeat& r, std::int64_t pos, std::int64_t limit) {
  if (KindAt(code_, r.shape.atom) == kAny) return std::min(limit, len_ - pos);
  std::int64_t count = 0;
  if (const ByteSet* takes = GuardOf(r.shape.atom)) {
    const std::int64_t end = pos + std::min(limit, len_ - pos);
    std::int64_t p = pos;
    while (p < end && takes->Has(in_[p])) ++p;
    count = p - pos;
  } else {
    while (count < limit && AtomMatches(r, pos + count * r.unit)) ++count;
  }
  budget_.Charge(count + 1);
  return count;
}

bool Matcher::EnterRepeat(int& node, std::int64_t& pos) {
  Repeat r = RepeatAt(node);
  if (r.unit <= 0) {
    // A back-reference to a group without text never matches; one to an empty text matches
    // any number of times without moving.
    if (r.unit < 0 && r.shape.min > 0) return false;
    node = r.next;
    return true;
  }
  const bool lazy = IsLazyRepeat(KindAt(code_, node));
  std::int64_t count = CountMatches(r, pos, lazy ? r.shape.min : r.shape.max);
  if (count < r.shape.min) return false;
  return lazy ? LazyFrom(node, pos, r, pos, count) : GreedyFrom(node, pos, r, pos, count);
}

// count repetitions match at base; tries the most first.
bool Matcher::GreedyFrom(int& node, std::int64_t& pos, const Repeat& r, std::int64_t base,
                         std::int64_t count) {
  const std::int64_t tried = count;
  if (const ByteSet* follow = GuardOf(node)) {
    for (; count >= r.shape.min; --count) {
      const std::int64_t p = base + count * r.unit;
      if (p < len_ && follow->Has(in_[p])) break;
    }
  }
  budget_.Charge(tried - count);
  if (count < r.shape.min) return false;
  if (count > r.shape.min) PushChoice(kAltRepGreedy, node, base, count - 1);
  pos = base + count * r.unit;
  node = r.next;
  return true;
}

// count repetitions match at base; tries the fewest first.
bool Matcher::LazyFrom(int& node, std::int64_t& pos, const Repeat& r, std::int64_t base,
                       std::int64_t count) {
  const std::int32_t literal = accelerate_ ? program_.hints[node].skipLiteral : -1;
  if (literal >= 0) {
    // Any byte repeats: straight to the next place where the literal that follows stands.
    std::int64_t at = scans_[literal].NextAt(in_, len_, base + count, budget_);
    if (at < 0 || at - base > r.shape.max) return false;
    count = at - base;
  } else if (!LazyAdvance(node, r, base, &count)) {
    return false;
  }
  if (count < r.shape.max) PushChoice(kAltRepLazy, node, base, count);
  pos = base + count * r.unit;
  node = r.next;
  return true;
}

// Adds repetitions until what follows could begin, or fails when the atom stops first.
bool Matcher::LazyAdvance(int node, const Repeat& r, std::int64_t base, std::int64_t* count) {
  const std::int64_t first = *count;
  const ByteSet* follow = GuardOf(node);
  const ByteSet* takes = GuardOf(r.shape.atom);
  bool ok = true;
  if (follow != nullptr && takes != nullptr) {
    // Single bytes: one pass over the input with two table lookups per byte.
    const std::int64_t stop = base + std::min(r.shape.max, len_ - base);
    std::int64_t p = base + *count;
    for (; !(p < len_ && follow->Has(in_[p])); ++p) {
      if (p >= stop || !takes->Has(in_[p])) {
        ok = false;
        break;
      }
    }
    *count = p - base;
  } else {
    while (ok && !Admits(node, base + *count * r.unit)) {
      ok = *count < r.shape.max && AtomMatches(r, base + *count * r.unit);
      *count += ok;
    }
  }
  budget_.Charge(*count - first + 1);
  return ok;
}

// One more repetition than the last try, if the atom matches there.
bool Matcher::ResumeLazy(int& node, std::int64_t& pos, std::int64_t base, std::int64_t count) {
  Repeat r = RepeatAt(node);
  if (count >= r.shape.max || !AtomMatches(r, base + count * r.unit)) return false;
  return LazyFrom(node, pos, r, base, count + 1);
}

// ---- counted loops of longer operands ----

LoopShape Matcher::CheckedLoop(int loopNode) const {
  LoopShape loop = LoopOf(code_, loopNode);
  if (loop.entry < kFirstNode || loop.entry >= loopNode || KindAt(code_, loop.entry) != kLoopEntry) {
    Raise(kErrLoopWithoutEntry);
  }
  return loop;
}

void Matcher::EnterLoop() {
  if (loopDepth_ >= kMaxLoopDepth) Raise(kErrLoopStackExceeded);
  PushUndoLoop(loopDepth_ + 1);
  ++loopDepth_;
  loopCount_[loopDepth_] = 0;
  loopStart_[loopDepth_] = -1;
}

bool Matcher::LoopStep(int& node, std::int64_t pos, bool lazy) {
  if (loopDepth_ == 0) Raise(kErrLoopWithoutEntry);
  const LoopShape loop = CheckedLoop(node);
  const std::int64_t count = loopCount_[loopDepth_];
  // A pass that consumed nothing would repeat forever: it ends the loop, as if the count had
  // been reached.
  if (count > 0 && pos == loopStart_[loopDepth_]) return LoopExit(node, true);
  const bool mayExit = count >= loop.min && Admits(node, pos);
  if (!lazy) {
    if (count >= loop.max) return LoopExit(node, false);
    if (mayExit || !accelerate_) PushChoice(kAltLoopExit, node, pos, 0);
    return LoopMore(node, pos);
  }
  if (!mayExit) return LoopMore(node, pos);
  if (count < loop.max) PushChoice(kAltLoopMore, node, pos, 0);
  return LoopExit(node, false);
}

// One more pass through the loop's body.
bool Matcher::LoopMore(int& node, std::int64_t pos) {
  const LoopShape loop = CheckedLoop(node);
  std::int64_t count = loopCount_[loopDepth_];
  if (count >= loop.max) return false;
  PushUndoLoop(loopDepth_);
  loopCount_[loopDepth_] = count + 1;
  loopStart_[loopDepth_] = pos;
  node = OperandAt(loop.entry);
  return true;
}

// Leaves the loop, giving its counter level back.
bool Matcher::LoopExit(int& node, bool emptyPass) {
  const LoopShape loop = CheckedLoop(node);
  if (!emptyPass && loopCount_[loopDepth_] < loop.min) return false;
  int next = Follow(node);
  PushUndoLoop(loopDepth_);
  --loopDepth_;
  node = next;
  return true;
}

// ---- single nodes ----

bool Matcher::TakesByte(int node, std::int64_t pos) const {
  if (pos >= len_) return false;
  const std::uint8_t c = in_[pos];
  const Op op = KindAt(code_, node);
  if (op == kExactly) return c == static_cast<std::uint8_t>(LiteralText(code_, node)[0]);
  if (op == kExactlyCi) {
    auto want = static_cast<std::uint8_t>(LiteralText(code_, node)[0]);
    return c == want || c == ToggleCase(want);
  }
  if (!IsSingleByte(op)) Raise(kErrRepeatInappropriate);
  if (op == kAnyMl) {
    if (tables_.lineBreak.Has(c)) return false;
    return !(tables_.hasPair && c == tables_.pairHead && pos + 1 < len_ && in_[pos + 1] == tables_.pairTail);
  }
  return SetNodeTakes(code_, node, c);
}

bool Matcher::MatchLiteral(int node, std::int64_t& pos) {
  const auto* text = reinterpret_cast<const std::uint8_t*>(LiteralText(code_, node));
  if (text[1] == 0) {  // the common single byte, without library calls
    if (!TakesByte(node, pos)) return false;
    ++pos;
    return true;
  }
  const std::size_t n = std::strlen(reinterpret_cast<const char*>(text));
  budget_.Charge(static_cast<std::int64_t>(n));
  if (len_ - pos < static_cast<std::int64_t>(n)) return false;
  if (KindAt(code_, node) == kExactly) {
    if (std::memcmp(in_ + pos, text, n) != 0) return false;
  } else {
    for (std::size_t k = 0; k < n; ++k) {
      std::uint8_t c = in_[pos + k];
      if (c != text[k] && c != ToggleCase(text[k])) return false;
    }
  }
  pos += static_cast<std::int64_t>(n);
  return true;
}

std::int64_t Matcher::GroupLength(int group) const {
  std::int64_t s = slots_[2 * group], e = slots_[2 * group + 1];
  return (s < 0 || e < s) ? -1 : e - s;
}

bool Matcher::MatchBackRef(int group, bool ignoreCase, std::int64_t pos) {
  if (group <= 0 || group >= kMaxGroups) Raise(kErrMemoryCorruption);
  const std::int64_t n = GroupLength(group);
  if (n < 0 || len_ - pos < n) return false;
  budget_.Charge(n);
  const std::uint8_t* text = in_ + slots_[2 * group];
  if (!ignoreCase) return std::memcmp(text, in_ + pos, static_cast<std::size_t>(n)) == 0;
  for (std::int64_t k = 0; k < n; ++k) {
    std::uint8_t a = text[k], b = in_[pos + k];
    if (a != b && ToggleCase(a) != b) return false;
  }
  return true;
}

bool Matcher::IsWordAt(std::int64_t pos) const {
  return pos >= 0 && pos < len_ && tables_.word.Has(in_[pos]);
}

bool Matcher::AtLineStart(std::int64_t pos) const {
  if (pos == 0) return true;
  std::uint8_t prev = in_[pos - 1];
  if (tables_.hasPair && pos >= 2 && in_[pos - 2] == tables_.pairHead && prev == tables_.pairTail) {
    return true;
  }
  if (!tables_.lineBreak.Has(prev)) return false;
  return !(tables_.hasPair && prev == tables_.pairHead && pos < len_ && in_[pos] == tables_.pairTail);
}

bool Matcher::AtLineEnd(std::int64_t pos) const {
  if (pos == len_) return true;
  std::uint8_t cur = in_[pos];
  if (tables_.hasPair && cur == tables_.pairHead && pos + 1 < len_ && in_[pos + 1] == tables_.pairTail) {
    return true;
  }
  if (!tables_.lineBreak.Has(cur)) return false;
  return !(tables_.hasPair && cur == tables_.pairTail && pos > 0 && in_[pos - 1] == tables_.pairHead);
}

}  // namespace tovi::regex

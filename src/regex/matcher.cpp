#include "regex/matcher.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "regex/case_map.h"
#include "regex/pattern.h"

namespace tovi::regex {
namespace {

// Backtracking frames one search may hold (24 bytes each): deep enough for a repeated group
// over a page of a megabyte, small enough that a hostile pattern cannot exhaust memory.
constexpr std::size_t kMaxFrames = std::size_t{1} << 22;

[[noreturn]] void Raise(int code) { throw EPattern(code, -1); }

}  // namespace

Matcher::Matcher(const Program& program, const Tables& tables, const std::uint8_t* input,
                 std::int64_t length, std::int64_t stepLimit)
    : code_(program.code),
      prefilter_(program.prefilter),
      tables_(tables),
      in_(input),
      len_(length),
      stepLimit_(stepLimit) {}

void Matcher::Exceeded() const { Raise(TPattern::kStepLimitExceeded); }

bool Matcher::Search(Captures* groups) {
  if (code_.empty() || code_[0] != kCheckByte) Raise(1004);
  std::string_view text(reinterpret_cast<const char*>(in_), static_cast<std::size_t>(len_));
  for (const std::string& literal : prefilter_.required) {
    std::boyer_moore_horspool_searcher searcher(literal.begin(), literal.end());
    if (std::search(text.begin(), text.end(), searcher) == text.end()) return false;
  }
  bool found = false;
  if (prefilter_.anchored) {
    found = TryAt(0);
  } else if (!prefilter_.firstLiteral.empty()) {
    const std::string& first = prefilter_.firstLiteral;
    std::boyer_moore_horspool_searcher searcher(first.begin(), first.end());
    for (auto at = text.begin(); !found;) {
      at = std::search(at, text.end(), searcher);
      if (at == text.end()) break;
      found = TryAt(at - text.begin());
      ++at;
    }
  } else {
    for (std::int64_t s = 0; !found && s <= len_; ++s) {
      if (prefilter_.useFirstSet && (s == len_ || !prefilter_.firstSet[in_[s]])) continue;
      found = TryAt(s);
    }
  }
  if (found) *groups = groups_;
  return found;
}

bool Matcher::TryAt(std::int64_t start) {
  groups_.start.fill(-1);
  groups_.end.fill(-1);
  frames_.clear();
  loopDepth_ = 0;
  matched_ = false;
  int node = 1;
  std::int64_t pos = start;
  for (;;) {
    if (!Advance(node, pos) && !Backtrack(node, pos)) return false;
    if (matched_) {
      groups_.start[0] = start;
      groups_.end[0] = matchEnd_;
      return true;
    }
  }
}

int Matcher::Next(int node) const {
  std::int32_t off = ReadInt32(&code_[node + 1]);
  return off == 0 ? -1 : node + off;
}

// The case-sensitive literal that comes next, looking past nodes that neither consume nor test
// input; -1 when something else comes first.
int Matcher::NextLiteralNode(int node) const {
  while (node >= 0) {
    switch (code_[node]) {
      case kOpen: case kClose: case kNothing: case kComment:
        node = Next(node);
        break;
      case kExactly:
        return node;
      default:
        return -1;
    }
  }
  return -1;
}

void Matcher::Push(FrameKind kind, int index, int node, std::int64_t pos, std::int64_t value) {
  if (frames_.size() >= kMaxFrames) Exceeded();
  frames_.push_back(Frame{kind, static_cast<std::uint8_t>(index), node, pos, value});
}

bool Matcher::IsWordAt(std::int64_t pos) const {
  return pos >= 0 && pos < len_ && tables_.word[in_[pos]];
}

bool Matcher::AtLineStart(std::int64_t pos) const {
  if (pos == 0) return true;
  std::uint8_t prev = in_[pos - 1];
  if (tables_.hasPair && pos >= 2 && in_[pos - 2] == tables_.pairHead && prev == tables_.pairTail) {
    return true;
  }
  if (!tables_.lineBreak[prev]) return false;
  return !(tables_.hasPair && prev == tables_.pairHead && pos < len_ && in_[pos] == tables_.pairTail);
}

bool Matcher::AtLineEnd(std::int64_t pos) const {
  if (pos == len_) return true;
  std::uint8_t cur = in_[pos];
  if (tables_.hasPair && cur == tables_.pairHead && pos + 1 < len_ &&
      in_[pos + 1] == tables_.pairTail) {
    return true;
  }
  if (!tables_.lineBreak[cur]) return false;
  return !(tables_.hasPair && cur == tables_.pairTail && pos > 0 && in_[pos - 1] == tables_.pairHead);
}

bool Matcher::MatchOne(int node, std::int64_t pos) const {
  if (pos >= len_) return false;
  std::uint8_t c = in_[pos];
  const std::uint8_t* operand = &code_[node + kNodeHeader];
  switch (code_[node]) {
    case kAny:
      return true;
    case kAnyMl:
      if (tables_.lineBreak[c]) return false;
      return !(tables_.hasPair && c == tables_.pairHead && pos + 1 < len_ &&
               in_[pos + 1] == tables_.pairTail);
    case kExactly:
      return c == operand[0];
    case kExactlyCi:
      return c == operand[0] || c == ToggleCase(operand[0]);
    case kDigit:
      return c >= '0' && c <= '9';
    case kNotDigit:
      return c < '0' || c > '9';
    case kAnyOfTiny:
    case kAnyButTiny: {
      bool listed = false;
      for (int k = 0; k < operand[0]; ++k) listed = listed || operand[1 + k] == c;
      return listed == (code_[node] == kAnyOfTiny);
    }
    case kAnyOfSet:
      return (operand[c / 8] >> (c % 8)) & 1;
    default:
      Raise(1000);
  }
}

bool Matcher::MatchBackRef(int group, bool ignoreCase, std::int64_t pos) const {
  std::int64_t s = groups_.start[group], e = groups_.end[group];
  if (s < 0 || e < s) return false;
  std::int64_t n = e - s;
  if (len_ - pos < n) return false;
  for (std::int64_t k = 0; k < n; ++k) {
    std::uint8_t a = in_[s + k], b = in_[pos + k];
    if (a != b && !(ignoreCase && ToggleCase(a) == b)) return false;
  }
  return true;
}

bool Matcher::Advance(int& node, std::int64_t& pos) {
  Step();
  const std::uint8_t op = code_[node];
  const std::uint8_t* operand = &code_[node + kNodeHeader];
  switch (op) {
    case kEnd:
      matched_ = true;
      matchEnd_ = pos;
      return true;
    case kBol:
      if (pos != 0) return false;
      break;
    case kEol:
      if (pos != len_) return false;
      break;
    case kBolMl:
      if (!AtLineStart(pos)) return false;
      break;
    case kEolMl:
      if (!AtLineEnd(pos)) return false;
      break;
    case kAny: case kAnyMl: case kDigit: case kNotDigit:
    case kAnyOfTiny: case kAnyButTiny: case kAnyOfSet:
      if (!MatchOne(node, pos)) return false;
      ++pos;
      break;
    case kExactly:
      if (operand[1] == 0) {  // the common single byte, without library calls
        if (pos >= len_ || in_[pos] != operand[0]) return false;
        ++pos;
        break;
      }
      [[fallthrough]];
    case kExactlyCi: {
      std::size_t n = std::strlen(reinterpret_cast<const char*>(operand));
      if (len_ - pos < static_cast<std::int64_t>(n)) return false;
      if (op == kExactly) {
        if (std::memcmp(in_ + pos, operand, n) != 0) return false;
      } else {
        for (std::size_t k = 0; k < n; ++k) {
          std::uint8_t c = in_[pos + k];
          if (c != operand[k] && c != ToggleCase(operand[k])) return false;
        }
      }
      pos += static_cast<std::int64_t>(n);
      break;
    }
    case kBranch: {
      int next = Next(node);
      if (next >= 0 && code_[next] == kBranch) Push(kAltBranch, 0, next, pos, 0);
      node += kNodeHeader;
      return true;
    }
    case kBack: case kNothing: case kComment:
      break;
    case kOpen:
    case kClose: {
      int g = operand[0];
      if (g <= 0 || g >= kMaxGroups) Raise(1001);
      auto& slot = op == kOpen ? groups_.start : groups_.end;
      Push(op == kOpen ? kUndoStart : kUndoEnd, g, 0, slot[g], 0);
      slot[g] = pos;
      break;
    }
    case kBackRef:
    case kBackRefCi: {
      int g = operand[0];
      if (!MatchBackRef(g, op == kBackRefCi, pos)) return false;
      pos += groups_.end[g] - groups_.start[g];
      break;
    }
    case kBound:
    case kNotBound:
      if ((IsWordAt(pos - 1) != IsWordAt(pos)) != (op == kBound)) return false;
      break;
    case kStar: case kStarLazy: case kPlus: case kPlusLazy: case kBraces: case kBracesLazy:
      return EnterRepeat(node, pos);
    case kLoopEntry: {
      if (loopDepth_ >= kMaxLoopDepth) Raise(1014);
      Push(kUndoLoop, loopDepth_ + 1, 0, loopCount_[loopDepth_ + 1], loopDepth_);
      ++loopDepth_;
      loopCount_[loopDepth_] = 0;
      break;
    }
    case kLoop:
    case kLoopLazy:
      return LoopStep(node, pos, op == kLoopLazy);
    default:
      Raise(1001);
  }
  int next = Next(node);
  if (next < 0) Raise(1002);
  node = next;
  return true;
}

bool Matcher::Backtrack(int& node, std::int64_t& pos) {
  while (!frames_.empty()) {
    Frame f = frames_.back();
    frames_.pop_back();
    switch (f.kind) {
      case kUndoStart:
        groups_.start[f.index] = f.pos;
        break;
      case kUndoEnd:
        groups_.end[f.index] = f.pos;
        break;
      case kUndoLoop:
        loopDepth_ = static_cast<int>(f.value);
        loopCount_[f.index] = f.pos;
        break;
      default:
        Step();
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
    case kAltBranch: {
      int next = Next(node);
      if (next >= 0 && code_[next] == kBranch) Push(kAltBranch, 0, next, pos, 0);
      node += kNodeHeader;
      return true;
    }
    case kAltRepGreedy:
      return GreedyFrom(node, pos, RepeatOf(node), f.pos, f.value);
    case kAltRepLazy: {
      Repeat r = RepeatOf(node);
      std::int64_t count = f.value;
      if (count >= r.max || !AtomMatches(r, f.pos + count * r.unit)) return false;
      return LazyFrom(node, pos, r, f.pos, count + 1);
    }
    case kAltLoopExit:
      return LoopExit(node);
    case kAltLoopMore:
      return LoopMore(node);
    default:
      Raise(1002);
  }
}

Matcher::Repeat Matcher::RepeatOf(int node) const {
  Repeat r;
  const std::uint8_t op = code_[node];
  r.atom = node + kNodeHeader;
  r.min = (op == kPlus || op == kPlusLazy) ? 1 : 0;
  r.max = kInfiniteCount;
  if (op == kBraces || op == kBracesLazy) {
    r.min = ReadInt32(&code_[r.atom]);
    r.max = ReadInt32(&code_[r.atom + 4]);
    r.atom += 8;
  }
  r.next = Next(node);
  if (r.next < 0) Raise(1002);
  int literalNode = NextLiteralNode(r.next);
  r.literal = literalNode < 0 ? -1 : code_[literalNode + kNodeHeader];
  r.literalText = literalNode < 0 ? nullptr : reinterpret_cast<const char*>(&code_[literalNode + kNodeHeader]);
  r.unit = 1;
  if (code_[r.atom] == kBackRef || code_[r.atom] == kBackRefCi) {
    int g = code_[r.atom + kNodeHeader];
    std::int64_t s = groups_.start[g], e = groups_.end[g];
    r.unit = (s < 0 || e < s) ? -1 : e - s;
  }
  return r;
}

bool Matcher::LiteralFollows(const Repeat& r, std::int64_t pos) const {
  return r.literal < 0 || (pos < len_ && in_[pos] == r.literal);
}

bool Matcher::AtomMatches(const Repeat& r, std::int64_t pos) const {
  std::uint8_t op = code_[r.atom];
  if (op == kBackRef || op == kBackRefCi) return MatchBackRef(code_[r.atom + kNodeHeader], op == kBackRefCi, pos);
  return MatchOne(r.atom, pos);
}

std::int64_t Matcher::CountMatches(const Repeat& r, std::int64_t pos, std::int64_t limit) {
  if (code_[r.atom] == kAny) return std::min(limit, len_ - pos);
  std::int64_t count = 0;
  while (count < limit && AtomMatches(r, pos + count * r.unit)) ++count;
  Charge(count * r.unit);
  return count;
}

bool Matcher::EnterRepeat(int& node, std::int64_t& pos) {
  Repeat r = RepeatOf(node);
  if (r.unit <= 0) {
    // A back-reference to a group without text never matches; one to an empty text matches
    // any number of times without moving.
    if (r.unit < 0 && r.min > 0) return false;
    node = r.next;
    return true;
  }
  const bool lazy = code_[node] == kStarLazy || code_[node] == kPlusLazy || code_[node] == kBracesLazy;
  std::int64_t base = pos;
  std::int64_t count = CountMatches(r, base, lazy ? r.min : r.max);
  if (count < r.min) return false;
  return lazy ? LazyFrom(node, pos, r, base, count) : GreedyFrom(node, pos, r, base, count);
}

bool Matcher::GreedyFrom(int& node, std::int64_t& pos, const Repeat& r, std::int64_t base,
                         std::int64_t count) {
  std::int64_t tried = count;
  while (count >= r.min && !LiteralFollows(r, base + count * r.unit)) --count;
  Charge(tried - count);
  if (count < r.min) return false;
  if (count > r.min) Push(kAltRepGreedy, 0, node, base, count - 1);
  pos = base + count * r.unit;
  node = r.next;
  return true;
}

// count repetitions are known to match at base.
bool Matcher::LazyFrom(int& node, std::int64_t& pos, const Repeat& r, std::int64_t base,
                       std::int64_t count) {
  if (r.literal >= 0 && code_[r.atom] == kAny) {
    // Any byte repeats: skip straight to the next place where the whole literal stands.
    std::int64_t from = base + count;
    std::int64_t last = std::min(len_, base + r.max);  // the furthest place to try
    std::string_view literal(r.literalText);
    std::string_view window(reinterpret_cast<const char*>(in_) + from,
                            static_cast<std::size_t>(std::min(len_, last + static_cast<std::int64_t>(literal.size())) - from));
    auto hit = std::search(window.begin(), window.end(),
                           std::boyer_moore_horspool_searcher(literal.begin(), literal.end()));
    std::int64_t at = from + (hit - window.begin());
    Charge(at - from);
    if (hit == window.end() || at > last) return false;
    count = at - base;
  } else {
    std::int64_t first = count;
    while (!LiteralFollows(r, base + count * r.unit)) {
      if (count >= r.max || !AtomMatches(r, base + count * r.unit)) {
        Charge(count - first);
        return false;
      }
      ++count;
    }
    Charge(count - first);
  }
  if (count < r.max) Push(kAltRepLazy, 0, node, base, count);
  pos = base + count * r.unit;
  node = r.next;
  return true;
}

void Matcher::LoopBounds(int loopNode, int* entry, std::int64_t* min, std::int64_t* max) const {
  const std::uint8_t* operand = &code_[loopNode + kNodeHeader];
  *entry = loopNode - ReadInt32(operand);
  if (*entry < 1 || *entry >= loopNode || code_[*entry] != kLoopEntry) Raise(1015);
  *min = ReadInt32(operand + 4);
  *max = ReadInt32(operand + 8);
}

bool Matcher::LoopStep(int& node, std::int64_t& pos, bool lazy) {
  if (loopDepth_ == 0) Raise(1015);
  int entry;
  std::int64_t min, max;
  LoopBounds(node, &entry, &min, &max);
  std::int64_t count = loopCount_[loopDepth_];
  if (!lazy) {
    if (count < max) {
      Push(kAltLoopExit, 0, node, pos, 0);
      return LoopMore(node);
    }
    return LoopExit(node);
  }
  if (count >= min) {
    Push(kAltLoopMore, 0, node, pos, 0);
    return LoopExit(node);
  }
  return LoopMore(node);
}

// One more pass through the loop's body.
bool Matcher::LoopMore(int& node) {
  int entry;
  std::int64_t min, max;
  LoopBounds(node, &entry, &min, &max);
  std::int64_t count = loopCount_[loopDepth_];
  if (count >= max) return false;
  Push(kUndoLoop, loopDepth_, 0, count, loopDepth_);
  loopCount_[loopDepth_] = count + 1;
  node = entry + kNodeHeader;
  return true;
}

// Leaves the loop, giving its counter level back.
bool Matcher::LoopExit(int& node) {
  int entry;
  std::int64_t min, max;
  LoopBounds(node, &entry, &min, &max);
  std::int64_t count = loopCount_[loopDepth_];
  if (count < min) return false;
  int next = Next(node);
  if (next < 0) Raise(1002);
  Push(kUndoLoop, loopDepth_, 0, count, loopDepth_);
  --loopDepth_;
  node = next;
  return true;
}

}  // namespace tovi::regex

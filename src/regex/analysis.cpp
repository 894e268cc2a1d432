#include "regex/analysis.h"

#include "regex/case_map.h"
#include "regex/literal_scan.h"

namespace tovi::regex {
namespace {

// Node visits for all the walks of one program: a few milliseconds at most, whatever the
// pattern; programs of ordinary markers need a few hundred.
constexpr std::int64_t kAnalysisVisits = 2'000'000;
constexpr std::size_t kMaxRequired = 8;  // literals checked before each start position

// The bytes a path through the program can consume first, with the zero-width nodes passed
// over (assertions only narrow what matches, so passing them keeps the set a superset).
class PathStarts {
 public:
  explicit PathStarts(const Code& code) : code_(code), seen_(code.size(), 0) {}

  // False when a path from node may match without consuming a byte, or the walk gave up.
  bool Collect(int node, ByteSet* set) {
    ++stamp_;
    pending_.assign(1, node);
    while (!pending_.empty()) {
      int n = pending_.back();
      pending_.pop_back();
      if (!Walk(n, set)) return false;
    }
    return true;
  }

 private:
  // Follows one path until it consumes; alternatives met on the way go to pending_.
  bool Walk(int n, ByteSet* set) {
    for (;;) {
      if (n < kFirstNode || n >= static_cast<int>(code_.size())) return false;
      if (seen_[n] == stamp_) return true;  // its bytes are being collected already
      seen_[n] = stamp_;
      if (--visitsLeft_ < 0) return false;
      const Op op = KindAt(code_, n);
      switch (op) {
        case kEnd:
          return false;
        case kBol: case kEol: case kBolMl: case kEolMl: case kBound: case kNotBound:
        case kOpen: case kClose: case kNothing: case kComment: case kBack: case kLoopEntry:
          n = NextNode(code_, n);
          continue;
        case kLoop: case kLoopLazy:
          pending_.push_back(OperandAt(LoopOf(code_, n).entry));  // another pass of the body
          n = NextNode(code_, n);
          continue;
        case kBranch:
          for (int b = NextAlternative(code_, n); b >= 0; b = NextAlternative(code_, b)) {
            pending_.push_back(OperandAt(b));
          }
          n = OperandAt(n);
          continue;
        case kBackRef: case kBackRefCi:
          set->Fill();  // any text, the empty one included
          n = NextNode(code_, n);
          continue;
        case kStar: case kStarLazy: case kPlus: case kPlusLazy: case kBraces: case kBracesLazy: {
          RepeatShape r = RepeatOf(code_, n);
          if (AddSingle(r.atom, set) && r.min > 0) return true;
          n = NextNode(code_, n);
          continue;
        }
        case kAny: case kAnyMl: case kExactly: case kExactlyCi: case kDigit: case kNotDigit:
        case kAnyOfTiny: case kAnyButTiny: case kAnyOfSet:
          return AddSingle(n, set);
        default:
          return false;
      }
    }
  }

  // Adds what one node can consume first; false when it may consume nothing.
  bool AddSingle(int node, ByteSet* set) const {
    switch (KindAt(code_, node)) {
      case kExactly:
      case kExactlyCi: {
        auto first = static_cast<std::uint8_t>(LiteralText(code_, node)[0]);
        set->Add(first);
        if (KindAt(code_, node) == kExactlyCi) set->Add(ToggleCase(first));
        return true;
      }
      case kAny: case kAnyMl:
        set->Fill();
        return true;
      case kBackRef: case kBackRefCi:
        set->Fill();
        return false;
      default:
        for (int c = 0; c < 256; ++c) {
          if (SetNodeTakes(code_, node, static_cast<std::uint8_t>(c))) set->Add(static_cast<std::uint8_t>(c));
        }
        return true;
    }
  }

  const Code& code_;
  std::vector<std::uint32_t> seen_;  // the stamp of the walk that last visited each offset
  std::uint32_t stamp_ = 0;
  std::int64_t visitsLeft_ = kAnalysisVisits;
  std::vector<int> pending_;
};

// Steps over nodes that neither consume nor test input.
int SkipEmpty(const Code& code, int node, bool passGroups) {
  while (node >= 0) {
    Op op = KindAt(code, node);
    bool pass = op == kNothing || op == kComment || (passGroups && (op == kOpen || op == kClose));
    if (!pass) break;
    node = NextNode(code, node);
  }
  return node;
}

bool IsLiteral(const Code& code, int node) {
  return node >= 0 && (KindAt(code, node) == kExactly || KindAt(code, node) == kExactlyCi);
}

// A leading repetition of any byte without upper bound: whatever it lets a later start position
// reach, it lets position 0 reach too, so only position 0 needs trying.
bool StartsWithOpenAnyRun(const Code& code, int node) {
  if (node < 0 || !IsRepeat(KindAt(code, node))) return false;
  RepeatShape r = RepeatOf(code, node);
  return KindAt(code, r.atom) == kAny && r.max == kInfiniteCount;
}

// The index of a literal node in program->scanned, added with its probes when new. index maps
// a node's offset to its entry (-1: none yet): a search of the list for every literal made a
// pattern of many ".*?x" (a marker is up to a request body long) cost the square of its length.
int Scanned(Program* program, std::vector<int>& index, int node) {
  if (index[node] >= 0) return index[node];
  ProbePair probes = ChooseProbes(LiteralText(program->code, node), KindAt(program->code, node) == kExactlyCi);
  program->scanned.push_back(ScannedLiteral{node, probes.rare, probes.second});
  index[node] = static_cast<int>(program->scanned.size() - 1);
  return index[node];
}

Prefilter AnalyzeStart(Program* program, PathStarts& starts, std::vector<int>& index) {
  const Code& code = program->code;
  Prefilter pf;
  if (KindAt(code, kFirstNode) == kBranch && NextAlternative(code, kFirstNode) < 0) {
    const int top = OperandAt(kFirstNode);
    int first = SkipEmpty(code, top, true);
    pf.anchored = (first >= 0 && KindAt(code, first) == kBol) ||
                  StartsWithOpenAnyRun(code, SkipEmpty(code, top, false));
    if (IsLiteral(code, first)) pf.firstLiteral = Scanned(program, index, first);
    for (int p = top; p >= 0 && pf.required.size() < kMaxRequired; p = NextNode(code, p)) {
      if (IsLiteral(code, p)) pf.required.push_back(Scanned(program, index, p));
    }
  }
  pf.useFirstSet = starts.Collect(kFirstNode, &pf.firstSet);
  return pf;
}

void AddGuard(Program* program, PathStarts& starts, int node, int pathStart) {
  ByteSet set;
  if (pathStart < 0 || !starts.Collect(pathStart, &set)) return;
  program->hints[node].guard = static_cast<std::int32_t>(program->guards.size());
  program->guards.push_back(set);
}

void AnalyzeNode(Program* program, PathStarts& starts, std::vector<int>& index, int node) {
  const Code& code = program->code;
  const Op op = KindAt(code, node);
  if (op == kBranch) {
    AddGuard(program, starts, node, OperandAt(node));
  } else if (IsRepeat(op) || op == kLoop || op == kLoopLazy) {
    AddGuard(program, starts, node, NextNode(code, node));  // what may follow the repetition
  }
  if (IsRepeat(op)) {
    int atom = RepeatOf(code, node).atom;
    if (KindAt(code, atom) != kAnyMl) AddGuard(program, starts, atom, atom);  // what it takes
  }
  if (IsLazyRepeat(op) && KindAt(code, RepeatOf(code, node).atom) == kAny) {
    int literal = SkipEmpty(code, NextNode(code, node), true);
    if (IsLiteral(code, literal)) program->hints[node].skipLiteral = Scanned(program, index, literal);
  }
}

}  // namespace

void AnalyzeProgram(Program* program) {
  const Code& code = program->code;
  PathStarts starts(code);
  program->scanned.clear();
  std::vector<int> index(code.size(), -1);
  program->prefilter = AnalyzeStart(program, starts, index);
  program->hints.assign(code.size(), NodeHint{});
  program->guards.clear();
  for (int node = kFirstNode; node < static_cast<int>(code.size()); node += NodeSize(code, node)) {
    AnalyzeNode(program, starts, index, node);
  }
}

}  // namespace tovi::regex

// The compiled form of a pattern: a byte buffer of nodes, each one kind byte, a 4-byte signed
// link to the next node relative to its own start (0 = none) and an operand. The compiler writes
// it, the analysis and the matcher read it, all through the accessors below: they are the one
// place that knows where a node's fields lie. Internal to the regex library.
#pragma once
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace tovi::regex {

inline constexpr std::uint8_t kCheckByte = 0x9C;  // first byte of every program
inline constexpr int kFirstNode = 1;              // the node right after the check byte
inline constexpr int kMaxGroups = 15;             // group 0 (whole match) and groups 1 to 14
inline constexpr int kMaxLoopDepth = 10;          // nesting of counted loops at match time
inline constexpr std::int64_t kInfiniteCount = 2147483646;

enum Op : std::uint8_t {
  kEnd = 1,        // end of program: a match
  kBol,            // start of input
  kEol,            // end of input
  kBolMl,          // start of line (multi-line)
  kEolMl,          // end of line (multi-line)
  kAny,            // any byte
  kAnyMl,          // any byte but a line break
  kBranch,         // alternative: operand is the node right after it
  kBack,           // loop-back link (negative next)
  kExactly,        // literal string, zero-terminated
  kExactlyCi,      // the same ignoring case
  kNothing,        // empty
  kComment,        // empty: a comment or modifier group
  kDigit,          // 0-9
  kNotDigit,       // any byte but 0-9
  kAnyOfTiny,      // count byte + up to three member bytes
  kAnyButTiny,     // count byte + up to three excluded bytes
  kAnyOfSet,       // 32-byte member set
  kStar,           // operand: a single-byte node
  kStarLazy,
  kPlus,
  kPlusLazy,
  kBraces,         // operand: min (4), max (4), then a single-byte node
  kBracesLazy,
  kLoopEntry,      // operand: the repeated expression, whose tail links to the kLoop
  kLoop,           // operand: distance back to its kLoopEntry (4), min (4), max (4)
  kLoopLazy,
  kOpen,           // operand: group number (1)
  kClose,
  kBackRef,        // operand: group number (1)
  kBackRefCi,
  kBound,          // word boundary
  kNotBound,
  kOpLimit
};

inline constexpr int kNodeHeader = 5;
inline constexpr int kLinkField = 1;       // the link follows the kind byte
inline constexpr int kBracesOperand = 8;   // min and max before the repeated node
inline constexpr int kBracesMinField = 0, kBracesMaxField = 4;
inline constexpr int kLoopOperand = 12;    // distance back, min, max
inline constexpr int kLoopBackField = 0, kLoopMinField = 4, kLoopMaxField = 8;
inline constexpr int kSetBytes = 32;       // a kAnyOfSet bitmap
inline constexpr int kTinyOperand = 4;     // count and three bytes

using Code = std::vector<std::uint8_t>;

inline std::int32_t ReadInt32(const std::uint8_t* p) {
  std::int32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void WriteInt32(std::uint8_t* p, std::int32_t v) { std::memcpy(p, &v, sizeof v); }

// ---- the node accessors: every reader of a program goes through these ----

inline Op KindAt(const Code& code, int node) { return static_cast<Op>(code[node]); }

// The operand starts right after the header; for the last node that is one past the buffer, so
// this is an offset, never an element access.
inline int OperandAt(int node) { return node + kNodeHeader; }

inline const std::uint8_t* OperandBytes(const Code& code, int node) {
  return code.data() + OperandAt(node);
}

// The node linked after this one, or -1 for none.
inline int NextNode(const Code& code, int node) {
  std::int32_t off = ReadInt32(code.data() + node + kLinkField);
  return off == 0 ? -1 : node + off;
}

// Links node to the node at target (the compiler's side of NextNode).
inline void SetNextNode(Code& code, int node, int target) {
  WriteInt32(code.data() + node + kLinkField, target - node);
}

// Further alternatives of an alternation are kBranch nodes linked one after another.
inline int NextAlternative(const Code& code, int branch) {
  int next = NextNode(code, branch);
  return next >= 0 && KindAt(code, next) == kBranch ? next : -1;
}

inline const char* LiteralText(const Code& code, int node) {
  return reinterpret_cast<const char*>(OperandBytes(code, node));
}

inline int GroupNumber(const Code& code, int node) { return code[OperandAt(node)]; }

inline bool IsRepeat(Op op) { return op >= kStar && op <= kBracesLazy; }
inline bool IsLazyRepeat(Op op) { return op == kStarLazy || op == kPlusLazy || op == kBracesLazy; }
inline bool IsBackRef(Op op) { return op == kBackRef || op == kBackRefCi; }

// Bytes from this node's start to the node laid out after it (its operand's own nodes, such as
// a repetition's single-byte node or a loop's body, are laid out right after the header).
inline int NodeSize(const Code& code, int node) {
  switch (KindAt(code, node)) {
    case kExactly: case kExactlyCi:
      return kNodeHeader + static_cast<int>(std::strlen(LiteralText(code, node))) + 1;
    case kAnyOfTiny: case kAnyButTiny: return kNodeHeader + kTinyOperand;
    case kAnyOfSet: return kNodeHeader + kSetBytes;
    case kBraces: case kBracesLazy: return kNodeHeader + kBracesOperand;
    case kLoop: case kLoopLazy: return kNodeHeader + kLoopOperand;
    case kOpen: case kClose: case kBackRef: case kBackRefCi: return kNodeHeader + 1;
    default: return kNodeHeader;
  }
}

// A repetition of a single-byte node (kStar to kBracesLazy).
struct RepeatShape {
  int atom;  // the repeated node
  std::int64_t min, max;
};

inline RepeatShape RepeatOf(const Code& code, int node) {
  const Op op = KindAt(code, node);
  RepeatShape r{OperandAt(node), (op == kPlus || op == kPlusLazy) ? 1 : 0, kInfiniteCount};
  if (op == kBraces || op == kBracesLazy) {
    r.min = ReadInt32(code.data() + r.atom + kBracesMinField);
    r.max = ReadInt32(code.data() + r.atom + kBracesMaxField);
    r.atom += kBracesOperand;
  }
  return r;
}

// The counts of a kBraces or kBracesLazy node (the compiler's side of RepeatOf).
inline void SetBraceCounts(Code& code, int node, std::int32_t min, std::int32_t max) {
  WriteInt32(code.data() + OperandAt(node) + kBracesMinField, min);
  WriteInt32(code.data() + OperandAt(node) + kBracesMaxField, max);
}

// A counted loop's closing node (kLoop, kLoopLazy).
struct LoopShape {
  int entry;  // its kLoopEntry; the body starts at OperandAt(entry)
  std::int64_t min, max;
};

inline LoopShape LoopOf(const Code& code, int loopNode) {
  const std::uint8_t* operand = OperandBytes(code, loopNode);
  return LoopShape{loopNode - ReadInt32(operand + kLoopBackField),
                   ReadInt32(operand + kLoopMinField), ReadInt32(operand + kLoopMaxField)};
}

// The compiler's side of LoopOf.
inline void SetLoopShape(Code& code, int loopNode, const LoopShape& shape) {
  std::uint8_t* operand = code.data() + OperandAt(loopNode);
  WriteInt32(operand + kLoopBackField, loopNode - shape.entry);
  WriteInt32(operand + kLoopMinField, static_cast<std::int32_t>(shape.min));
  WriteInt32(operand + kLoopMaxField, static_cast<std::int32_t>(shape.max));
}

// ---- sets of bytes ----

class ByteSet {
 public:
  bool Has(std::uint8_t c) const { return (bits_[c >> 6] >> (c & 63)) & 1; }
  void Add(std::uint8_t c) { bits_[c >> 6] |= std::uint64_t{1} << (c & 63); }
  void Fill() { bits_.fill(~std::uint64_t{0}); }
  void AddAll(const ByteSet& other) {
    for (int w = 0; w < 4; ++w) bits_[w] |= other.bits_[w];
  }
  ByteSet Inverted() const {
    ByteSet s;
    for (int w = 0; w < 4; ++w) s.bits_[w] = ~bits_[w];
    return s;
  }
  int Count() const {
    int n = 0;
    for (std::uint64_t w : bits_) n += std::popcount(w);
    return n;
  }
  bool operator==(const ByteSet&) const = default;

 private:
  std::array<std::uint64_t, 4> bits_{};
};

// Whether a single-byte node (kAny to kAnyOfSet, not kExactly) takes byte c, ignoring the
// line-break rules that need the following byte (the caller handles kAnyMl's pair).
inline bool SetNodeTakes(const Code& code, int node, std::uint8_t c) {
  const std::uint8_t* operand = OperandBytes(code, node);
  switch (KindAt(code, node)) {
    case kDigit: return c >= '0' && c <= '9';
    case kNotDigit: return c < '0' || c > '9';
    case kAnyOfTiny:
    case kAnyButTiny: {
      bool listed = false;
      for (int k = 0; k < operand[0]; ++k) listed = listed || operand[1 + k] == c;
      return listed == (KindAt(code, node) == kAnyOfTiny);
    }
    case kAnyOfSet: return (operand[c / 8] >> (c % 8)) & 1;
    default: return true;  // kAny, kAnyMl
  }
}

// Character tables the compiler bakes into a program and the matcher consults.
struct Tables {
  ByteSet blank;
  ByteSet word;
  ByteSet lineBreak;
  bool hasPair = false;
  std::uint8_t pairHead = 13;
  std::uint8_t pairTail = 10;
  bool LineBreaksDefined() const { return hasPair || !(lineBreak == ByteSet()); }
};

// A byte of a literal that a scan for the literal looks for, at its offset in the literal.
struct ScanProbe {
  int offset = 0;
  std::uint8_t byte = 0, partner = 0;  // partner == byte when case does not matter
};

// A literal node the search scans the input for, with the two probes the scan uses.
struct ScannedLiteral {
  int node;
  ScanProbe rare, second;
};

// What the analysis learns about a program to skip work that cannot lead to a match; none of it
// changes which match is found. Literals are indices into Program::scanned.
struct Prefilter {
  bool anchored = false;      // only position 0 can start a match
  int firstLiteral = -1;      // a literal every match starts with, or -1
  bool useFirstSet = false;   // every match starts with a byte of firstSet
  ByteSet firstSet;
  std::vector<int> required;  // literals every match passes through
};

// Per node offset: hints the matcher may use to skip choices (see analysis.h).
struct NodeHint {
  // Index into Program::guards, -1 when unknown: for a kBranch, the bytes its alternative can
  // begin with; for a repetition or a counted loop, the bytes what follows it can begin with;
  // for the single-byte node a repetition repeats, the bytes it takes.
  std::int32_t guard = -1;
  // A lazy repeat of any byte: the literal it runs up to (index into Program::scanned), or -1.
  std::int32_t skipLiteral = -1;
};

struct Program {
  Code code;  // code[0] == kCheckByte, first node at kFirstNode
  Prefilter prefilter;
  std::vector<NodeHint> hints;          // empty, or one per byte of code
  std::vector<ByteSet> guards;          // bytes a path can begin with (see NodeHint::guard)
  std::vector<ScannedLiteral> scanned;  // the literals the search scans for
  Tables tables;                        // the tables the program was compiled with
};

// Modifier flags by letter, in the order of the letters i r s g m x.
struct Flags {
  bool i = false;
  bool r = true;
  bool s = true;
  bool g = true;
  bool m = false;
  bool x = false;
  bool operator==(const Flags&) const = default;
};

}  // namespace tovi::regex

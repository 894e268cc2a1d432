#include "regex/compiler.h"

#include <cstddef>

#include "regex/case_map.h"
#include "regex/pattern.h"
#include "regex/analysis.h"

namespace tovi::regex {
namespace {

// Properties of a parsed piece.
constexpr int kHasWidth = 1;   // cannot match the empty string, as the syntax rules count it
constexpr int kSimple = 2;     // matches exactly one byte (or one copy of a group's text)
constexpr int kSureWidth = 4;  // cannot match empty even where a back-reference's text is empty
constexpr int kWidthFlags = kHasWidth | kSureWidth;
constexpr int kConsumesByte = kHasWidth | kSimple | kSureWidth;

constexpr int kMaxBraceDigits = 8;

bool IsMeta(unsigned char c) {
  switch (c) {
    case '^': case '$': case '.': case '[': case '(': case ')': case '|':
    case '?': case '+': case '*': case '\\': case '{':
      return true;
    default:
      return false;
  }
}

int HexValue(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A brace quantifier as written, before its numbers are checked.
struct BraceShape {
  bool valid = false;
  std::size_t minFirst = 0, minEnd = 0;  // digits of the lower bound
  std::size_t maxFirst = 0, maxEnd = 0;  // digits of the upper bound (empty: open or exact)
  bool hasComma = false;
  std::size_t end = 0;  // just past "}"
};

class Compiler {
 public:
  Compiler(const std::string& pattern, const Flags& flags, const Tables& tables)
      : pat_(pattern), n_(pattern.size()), initialFlags_(flags), tables_(tables) {}

  Program Run() {
    Pass(true);
    std::size_t sized = size_;
    code_.reserve(sized);
    Pass(false);
    if (code_.size() != sized) Fail(kErrInternalUrp);
    Program program;
    program.code = std::move(code_);
    program.tables = tables_;
    AnalyzeProgram(&program);
    return program;
  }

 private:
  void Pass(bool sizing) {
    sizing_ = sizing;
    size_ = 0;
    code_.clear();
    at_ = 0;
    groups_ = 0;
    flags_ = initialFlags_;
    Byte(kCheckByte);
    int f = 0;
    ParseReg(false, &f);
  }

  [[noreturn]] void Fail(PatternError code) { throw EPattern(code, static_cast<int>(at_)); }

  // ---- emission; while sizing only the size moves ----

  int Node(Op op) {
    int p = static_cast<int>(size_);
    Byte(op);
    Zeros(kNodeHeader - 1);  // the link, set by Tail
    return p;
  }

  void Byte(std::uint8_t b) {
    ++size_;
    if (!sizing_) code_.push_back(b);
  }

  void Zeros(int count) {
    for (int k = 0; k < count; ++k) Byte(0);
  }

  // Puts a node (and operandBytes of zeros) in front of the node at `at`, which becomes its
  // operand.
  void Insert(Op op, int at, int operandBytes) {
    std::size_t add = kNodeHeader + operandBytes;
    size_ += add;
    if (sizing_) return;
    std::vector<std::uint8_t> head(add, 0);
    head[0] = op;
    code_.insert(code_.begin() + at, head.begin(), head.end());
  }

  // Links the last node of the chain starting at p to val.
  void Tail(int p, int val) {
    if (sizing_) return;
    int scan = p;
    for (int next = NextNode(code_, scan); next >= 0; next = NextNode(code_, scan)) scan = next;
    SetNextNode(code_, scan, val);
  }

  // Tail of a branch's operand chain.
  void OpTail(int p, int val) {
    if (sizing_ || KindAt(code_, p) != kBranch) return;
    Tail(OperandAt(p), val);
  }

  // ---- parsing ----

  unsigned char Peek() const { return static_cast<unsigned char>(pat_[at_]); }

  void SkipX() {
    if (!flags_.x) return;
    while (at_ < n_) {
      unsigned char c = Peek();
      if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
        ++at_;
      } else if (c == '#') {
        while (at_ < n_ && Peek() != '\r' && Peek() != '\n') ++at_;
      } else {
        break;
      }
    }
  }

  int ParseReg(bool paren, int* flagp) {
    *flagp = kWidthFlags;
    int ret = -1;
    int parno = 0;
    Flags saved = flags_;
    if (paren) {
      if (groups_ >= kMaxGroups - 1) Fail(kErrTooManyGroups);
      parno = ++groups_;
      ret = Node(kOpen);
      Byte(static_cast<std::uint8_t>(parno));
    }
    int f = 0;
    int br = ParseBranch(&f);
    if (ret >= 0) Tail(ret, br); else ret = br;
    *flagp &= f | ~kWidthFlags;
    while (at_ < n_ && Peek() == '|') {
      ++at_;
      br = ParseBranch(&f);
      Tail(ret, br);
      *flagp &= f | ~kWidthFlags;
    }
    int ender;
    if (paren) {
      ender = Node(kClose);
      Byte(static_cast<std::uint8_t>(parno));
    } else {
      ender = Node(kEnd);
    }
    Tail(ret, ender);
    if (!sizing_) {
      for (int b = ret; b >= 0; b = NextNode(code_, b)) OpTail(b, ender);
    }
    if (paren) {
      if (at_ >= n_ || Peek() != ')') Fail(kErrUnmatchedOpen);
      ++at_;
      flags_ = saved;
    } else if (at_ < n_) {
      Fail(Peek() == ')' ? kErrUnmatchedClose : kErrJunkOnEnd);
    }
    return ret;
  }

  int ParseBranch(int* flagp) {
    *flagp = 0;
    int ret = Node(kBranch);
    int chain = -1;
    SkipX();
    while (at_ < n_ && Peek() != '|' && Peek() != ')') {
      int f = 0;
      int latest = ParsePiece(&f);
      *flagp |= f & kWidthFlags;
      if (chain >= 0) Tail(chain, latest);
      chain = latest;
      SkipX();
    }
    if (chain < 0) Node(kNothing);
    return ret;
  }

  BraceShape ScanBraces(std::size_t p) const {
    BraceShape b;
    std::size_t q = p + 1;
    b.minFirst = q;
    while (q < n_ && pat_[q] >= '0' && pat_[q] <= '9') ++q;
    b.minEnd = q;
    if (b.minEnd == b.minFirst || q >= n_) return b;
    if (pat_[q] == ',') {
      b.hasComma = true;
      ++q;
      b.maxFirst = q;
      while (q < n_ && pat_[q] >= '0' && pat_[q] <= '9') ++q;
      b.maxEnd = q;
    }
    if (q >= n_ || pat_[q] != '}') return b;
    b.end = q + 1;
    b.valid = true;
    return b;
  }

  bool QuantifierAt(std::size_t p) const {
    if (p >= n_) return false;
    unsigned char c = static_cast<unsigned char>(pat_[p]);
    if (c == '*' || c == '+' || c == '?') return true;
    return c == '{' && ScanBraces(p).valid;
  }

  std::int32_t BraceNumber(std::size_t first, std::size_t end) {
    if (end - first > kMaxBraceDigits) {
      at_ = first + kMaxBraceDigits + 1;
      Fail(kErrBracesTooBig);
    }
    std::int32_t v = 0;
    for (std::size_t q = first; q < end; ++q) v = v * 10 + (pat_[q] - '0');
    return v;
  }

  // A quantifier as written: its bounds, its greediness and the character that began it.
  struct Quantifier {
    unsigned char op;
    std::int32_t min = 0, max = static_cast<std::int32_t>(kInfiniteCount);
    bool greedy;
  };

  Quantifier ParseQuantifier() {
    Quantifier q{Peek(), 0, static_cast<std::int32_t>(kInfiniteCount), flags_.g};
    if (q.op == '{') {
      BraceShape b = ScanBraces(at_);
      q.min = BraceNumber(b.minFirst, b.minEnd);
      if (!b.hasComma) {
        q.max = q.min;
      } else if (b.maxEnd > b.maxFirst) {
        q.max = BraceNumber(b.maxFirst, b.maxEnd);
      }
      at_ = b.end;
      if (q.max < q.min) Fail(kErrBracesMinAboveMax);
    } else {
      ++at_;
      if (q.op == '+') q.min = 1;
      if (q.op == '?') q.max = 1;
    }
    if (at_ < n_ && Peek() == '?') {
      q.greedy = false;
      ++at_;
    }
    return q;
  }

  int ParsePiece(int* flagp) {
    int f = 0;
    int ret = ParseAtom(&f);
    SkipX();
    if (!QuantifierAt(at_)) {
      *flagp = f;
      return ret;
    }
    if (!(f & kHasWidth) && Peek() != '?') Fail(kErrOperandCouldBeEmpty);
    Quantifier q = ParseQuantifier();
    *flagp = (q.min > 0) ? (f & kWidthFlags) : 0;
    if (f & kSimple) {
      EmitSingleRepeat(ret, q);
    } else if (q.greedy && q.op != '{' && (q.op == '?' || (f & kSureWidth))) {
      EmitBranchRepeat(ret, q.op);
    } else {
      // A loop whose body a back-reference can make empty is counted, so that an empty pass
      // can end it.
      EmitCountedLoop(ret, q);
    }
    SkipX();
    if (QuantifierAt(at_)) Fail(kErrNestedQuantifier);
    return ret;
  }

  void EmitSingleRepeat(int ret, const Quantifier& q) {
    if (q.op == '*') {
      Insert(q.greedy ? kStar : kStarLazy, ret, 0);
    } else if (q.op == '+') {
      Insert(q.greedy ? kPlus : kPlusLazy, ret, 0);
    } else {
      Insert(q.greedy ? kBraces : kBracesLazy, ret, kBracesOperand);
      if (!sizing_) SetBraceCounts(code_, ret, q.min, q.max);
    }
  }

  // Greedy *, + and ? of a longer operand, from alternatives and loop-back links.
  void EmitBranchRepeat(int ret, unsigned char op) {
    if (op == '*') {
      // x* as (x<back to self> | empty)
      Insert(kBranch, ret, 0);
      int back = Node(kBack);
      OpTail(ret, back);
      OpTail(ret, ret);
      Tail(ret, Node(kBranch));
      Tail(ret, Node(kNothing));
    } else if (op == '+') {
      // x+ as x(<back to x> | empty)
      int next = Node(kBranch);
      Tail(ret, next);
      Tail(Node(kBack), ret);
      Tail(next, Node(kBranch));
      Tail(ret, Node(kNothing));
    } else {
      // x? as (x | empty)
      Insert(kBranch, ret, 0);
      Tail(ret, Node(kBranch));
      int next = Node(kNothing);
      Tail(ret, next);
      OpTail(ret, next);
    }
  }

  void EmitCountedLoop(int ret, const Quantifier& q) {
    Insert(kLoopEntry, ret, 0);
    int loop = Node(q.greedy ? kLoop : kLoopLazy);
    Zeros(kLoopOperand);
    if (!sizing_) SetLoopShape(code_, loop, LoopShape{ret, q.min, q.max});
    Tail(ret, loop);
    Tail(OperandAt(ret), loop);
  }

  void EmitLiteral(const std::string& bytes) {
    Node(flags_.i ? kExactlyCi : kExactly);
    for (unsigned char c : bytes) Byte(c);
    Byte(0);
  }

  // A set of bytes as the smallest node that holds it.
  int EmitSet(const ByteSet& set) {
    const int members = set.Count();
    int p;
    if (members <= 3 || members >= 253) {
      bool list = members <= 3;
      p = Node(list ? kAnyOfTiny : kAnyButTiny);
      std::uint8_t bytes[3] = {0, 0, 0};
      int k = 0;
      for (int c = 0; c < 256; ++c) {
        if (set.Has(static_cast<std::uint8_t>(c)) == list) bytes[k++] = static_cast<std::uint8_t>(c);
      }
      Byte(static_cast<std::uint8_t>(k));
      for (std::uint8_t b : bytes) Byte(b);
    } else {
      p = Node(kAnyOfSet);
      for (int i = 0; i < 32; ++i) {
        std::uint8_t b = 0;
        for (int bit = 0; bit < 8; ++bit) {
          if (set.Has(static_cast<std::uint8_t>(i * 8 + bit))) b |= static_cast<std::uint8_t>(1u << bit);
        }
        Byte(b);
      }
    }
    return p;
  }

  int EmitByte(std::uint8_t c) {
    // A zero byte cannot occur in the input, and a literal string cannot hold one.
    if (c == 0) {
      ByteSet none;
      none.Add(0);
      return EmitSet(none);
    }
    int p = static_cast<int>(size_);
    EmitLiteral(std::string(1, static_cast<char>(c)));
    return p;
  }

  // The byte after "\x": two hex digits or a braced hex number; at_ is past the "x".
  std::uint8_t ParseHex() {
    if (at_ >= n_) Fail(kErrNoHexCode);
    if (Peek() == '{') {
      ++at_;
      unsigned value = 0;
      for (;;) {
        if (at_ >= n_) Fail(kErrNoHexCode);
        unsigned char d = Peek();
        ++at_;
        if (d == '}') break;
        int h = HexValue(d);
        if (h < 0) Fail(kErrBadHexDigit);
        value = value * 16 + static_cast<unsigned>(h);
        if (value > 0x1000) value = 0x1000;
      }
      if (value > 0xFF) Fail(kErrHexCodeTooBig);
      return static_cast<std::uint8_t>(value);
    }
    unsigned value = 0;
    for (int k = 0; k < 2; ++k) {
      if (at_ >= n_) Fail(kErrNoHexCode);
      int h = HexValue(Peek());
      ++at_;
      if (h < 0) Fail(kErrBadHexDigit);
      value = value * 16 + static_cast<unsigned>(h);
    }
    return static_cast<std::uint8_t>(value);
  }

  // The byte an escape letter stands for (at_ is past the letter).
  std::uint8_t EscapedByte(unsigned char c) {
    switch (c) {
      case 't': return 9;
      case 'n': return 10;
      case 'r': return 13;
      case 'f': return 12;
      case 'a': return 7;
      case 'e': return 27;
      case 'x': return ParseHex();
      default: return c;
    }
  }

  static ByteSet SetOf(const ByteSet& base, bool invert) { return invert ? base.Inverted() : base; }

  ByteSet Digits() {
    ByteSet s;
    for (int c = '0'; c <= '9'; ++c) s.Add(static_cast<std::uint8_t>(c));
    return s;
  }

  int ParseEscape(int* flagp) {
    if (at_ >= n_) Fail(kErrTrailingBackslash);
    unsigned char c = Peek();
    ++at_;
    *flagp = kConsumesByte;
    switch (c) {
      case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': {
        *flagp = kHasWidth | kSimple;  // the group's text may turn out empty
        int p = Node(flags_.i ? kBackRefCi : kBackRef);
        Byte(static_cast<std::uint8_t>(c - '0'));
        return p;
      }
      case 'A': *flagp = 0; return Node(kBol);
      case 'Z': *flagp = 0; return Node(kEol);
      case 'b': *flagp = 0; return Node(kBound);
      case 'B': *flagp = 0; return Node(kNotBound);
      case 'd': return Node(kDigit);
      case 'D': return Node(kNotDigit);
      case 's': return EmitSet(SetOf(tables_.blank, false));
      case 'S': return EmitSet(SetOf(tables_.blank, true));
      case 'w': return EmitSet(SetOf(tables_.word, false));
      case 'W': return EmitSet(SetOf(tables_.word, true));
      default: return EmitByte(EscapedByte(c));
    }
  }

  // One member of a class: a byte, or a set from \d, \s or \w.
  struct ClassItem {
    bool isSet = false;
    std::uint8_t byte = 0;
    ByteSet set;
  };

  bool SetEscapeAt(std::size_t p) const {
    if (p + 1 >= n_ || pat_[p] != '\\') return false;
    switch (pat_[p + 1]) {
      case 'd': case 'D': case 's': case 'S': case 'w': case 'W': return true;
      default: return false;
    }
  }

  ClassItem ReadClassItem() {
    ClassItem item;
    unsigned char c = Peek();
    ++at_;
    if (c != '\\') {
      item.byte = c;
      return item;
    }
    if (at_ >= n_) Fail(kErrClassTrailingBackslash);
    unsigned char e = Peek();
    ++at_;
    switch (e) {
      case 'd': item.isSet = true; item.set = Digits(); break;
      case 's': item.isSet = true; item.set = tables_.blank; break;
      case 'w': item.isSet = true; item.set = tables_.word; break;
      default: item.byte = EscapedByte(e); break;
    }
    return item;
  }

  void AddRange(ByteSet& set, std::uint8_t first, std::uint8_t last) {
    constexpr int kLowerFirst = 224, kLowerLast = 255, kLowerOutside = 184;
    constexpr int kUpperFirst = 192, kUpperLast = 223, kUpperOutside = 168;
    if (flags_.r && first == kLowerFirst && last == kUpperLast) {
      for (int c = kUpperFirst; c <= kLowerLast; ++c) set.Add(static_cast<std::uint8_t>(c));
      set.Add(kLowerOutside);
      set.Add(kUpperOutside);
      return;
    }
    if (first > last) Fail(kErrInvalidRange);
    for (int c = first; c <= last; ++c) set.Add(static_cast<std::uint8_t>(c));
    if (flags_.r && first == kLowerFirst && last == kLowerLast) set.Add(kLowerOutside);
    if (flags_.r && first == kUpperFirst && last == kUpperLast) set.Add(kUpperOutside);
  }

  int ParseClass(int* flagp) {
    bool negate = false;
    if (at_ < n_ && Peek() == '^') {
      negate = true;
      ++at_;
    }
    ByteSet set;
    bool first = true;
    for (;;) {
      if (at_ >= n_) Fail(kErrUnmatchedBracket);
      if (Peek() == ']' && !first) {
        ++at_;
        break;
      }
      first = false;
      ClassItem a = ReadClassItem();
      if (a.isSet) {
        set.AddAll(a.set);
        continue;
      }
      bool range = at_ + 1 < n_ && Peek() == '-' && pat_[at_ + 1] != ']' && !SetEscapeAt(at_ + 1);
      if (!range) {
        set.Add(a.byte);
        continue;
      }
      ++at_;
      ClassItem b = ReadClassItem();
      AddRange(set, a.byte, b.byte);
    }
    if (flags_.i) {
      ByteSet folded = set;
      for (int c = 0; c < 256; ++c) {
        if (set.Has(static_cast<std::uint8_t>(c))) folded.Add(ToggleCase(static_cast<std::uint8_t>(c)));
      }
      set = folded;
    }
    *flagp = kConsumesByte;
    return EmitSet(SetOf(set, negate));
  }

  // "(?" seen: modifier letters up to ")".
  void ParseModifiers() {
    bool on = true;
    for (;;) {
      if (at_ >= n_) Fail(kErrBadModifier);
      unsigned char c = Peek();
      ++at_;
      if (c == ')') return;
      if (c == '-') {
        on = false;
        continue;
      }
      switch (c | 0x20) {
        case 'i': flags_.i = on; break;
        case 'r': flags_.r = on; break;
        case 's': flags_.s = on; break;
        case 'g': flags_.g = on; break;
        case 'm': flags_.m = on; break;
        case 'x': flags_.x = on; break;
        default: Fail(kErrBadModifier);
      }
    }
  }

  int ParseAtom(int* flagp) {
    *flagp = 0;
    unsigned char c = Peek();
    ++at_;
    switch (c) {
      case '^':
        return Node(flags_.m && tables_.LineBreaksDefined() ? kBolMl : kBol);
      case '$':
        return Node(flags_.m && tables_.LineBreaksDefined() ? kEolMl : kEol);
      case '.':
        *flagp = kConsumesByte;
        return Node(flags_.s ? kAny : kAnyMl);
      case '[':
        return ParseClass(flagp);
      case '(':
        if (at_ < n_ && Peek() == '?') {
          ++at_;
          if (at_ < n_ && Peek() == '#') {
            std::size_t close = pat_.find(')', at_);
            if (close == std::string::npos) {
              at_ = n_;
              Fail(kErrUnclosedComment);
            }
            at_ = close + 1;
          } else {
            ParseModifiers();
          }
          return Node(kComment);
        } else {
          int f = 0;
          int ret = ParseReg(true, &f);
          *flagp = f & kWidthFlags;
          return ret;
        }
      case '|':
      case ')':
        Fail(kErrAtomDisaster);
      case '?':
      case '+':
      case '*':
        Fail(kErrFollowsNothing);
      case '\\':
        return ParseEscape(flagp);
      default:
        return ParseLiteralRun(c, flagp);
    }
  }

  // A run of plain bytes; at_ is past its first byte (which may be a "{" that starts no
  // quantifier). A quantifier after the run binds to its last byte only.
  int ParseLiteralRun(unsigned char first, int* flagp) {
    std::string run(1, static_cast<char>(first));
    std::size_t lastStart = at_ - 1;
    for (;;) {
      SkipX();
      if (at_ >= n_ || IsMeta(Peek())) break;
      lastStart = at_;
      run.push_back(pat_[at_]);
      ++at_;
    }
    if (run.size() > 1 && QuantifierAt(at_)) {
      run.pop_back();
      at_ = lastStart;
    }
    *flagp = kHasWidth | kSureWidth | (run.size() == 1 ? kSimple : 0);
    int p = static_cast<int>(size_);
    EmitLiteral(run);
    return p;
  }

  const std::string& pat_;
  std::size_t n_;
  Flags initialFlags_;
  const Tables& tables_;
  Flags flags_;
  bool sizing_ = true;
  std::size_t size_ = 0;
  std::vector<std::uint8_t> code_;
  std::size_t at_ = 0;
  int groups_ = 0;
};

}  // namespace

Program CompilePattern(const std::string& pattern, const Flags& flags, const Tables& tables) {
  Compiler compiler(pattern, flags, tables);
  return compiler.Run();
}

}  // namespace tovi::regex

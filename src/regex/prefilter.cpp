#include "regex/prefilter.h"

#include "regex/case_map.h"

namespace tovi::regex {
namespace {

// Which bytes can begin a match.
class FirstBytes {
 public:
  explicit FirstBytes(const std::vector<std::uint8_t>& code) : code_(code) {}

  // Adds the bytes that can be consumed first from node onwards; false when the analysis
  // gives up or the path can match without consuming anything.
  bool Collect(int node, int depth = 0) {
    if (depth > kMaxDepth) return false;
    while (node >= 0) {
      if (++visits_ > kMaxVisits) return false;
      std::uint8_t op = code_[node];
      switch (op) {
        case kEnd:
          return false;
        case kBol: case kEol: case kBolMl: case kEolMl: case kBound: case kNotBound:
        case kOpen: case kClose: case kNothing: case kComment:
          node = Next(node);
          continue;
        case kBack: case kLoop: case kLoopLazy:
          return true;  // reached only after the loop body consumed something
        case kBranch: {
          int next = Next(node);
          if (next < 0 || code_[next] != kBranch) {
            node = node + kNodeHeader;
            continue;
          }
          for (int b = node; b >= 0 && code_[b] == kBranch; b = Next(b)) {
            if (!Collect(b + kNodeHeader, depth + 1)) return false;
          }
          return true;
        }
        case kStar: case kStarLazy:
          if (!AddSingle(node + kNodeHeader)) return false;
          node = Next(node);
          continue;
        case kPlus: case kPlusLazy:
          return AddSingle(node + kNodeHeader);
        case kBraces: case kBracesLazy: {
          if (!AddSingle(node + kNodeHeader + 8)) return false;
          if (ReadInt32(&code_[node + kNodeHeader]) > 0) return true;
          node = Next(node);
          continue;
        }
        case kLoopEntry: {
          if (!Collect(node + kNodeHeader, depth + 1)) return false;
          int loop = Next(node);
          if (ReadInt32(&code_[loop + kNodeHeader + 4]) > 0) return true;
          node = Next(loop);
          continue;
        }
        default:
          return AddSingle(node);
      }
    }
    return false;
  }

  ByteSet set{};

 private:
  static constexpr int kMaxVisits = 10000;
  static constexpr int kMaxDepth = 100;  // keeps the call stack small on any pattern

  int Next(int p) const {
    std::int32_t off = ReadInt32(&code_[p + 1]);
    return off == 0 ? -1 : p + off;
  }

  bool AddSingle(int node) {
    const std::uint8_t* operand = &code_[node + kNodeHeader];
    switch (code_[node]) {
      case kExactly:
        set[operand[0]] = true;
        return true;
      case kExactlyCi:
        set[operand[0]] = true;
        set[ToggleCase(operand[0])] = true;
        return true;
      case kDigit:
        for (int c = '0'; c <= '9'; ++c) set[c] = true;
        return true;
      case kNotDigit:
        for (int c = 0; c < 256; ++c) set[c] = set[c] || c < '0' || c > '9';
        return true;
      case kAnyOfTiny:
        for (int k = 0; k < operand[0]; ++k) set[operand[1 + k]] = true;
        return true;
      case kAnyOfSet:
        for (int c = 0; c < 256; ++c) set[c] = set[c] || ((operand[c / 8] >> (c % 8)) & 1);
        return true;
      case kAny: case kAnyMl: case kAnyButTiny:
        set.fill(true);
        return true;
      default:
        return false;  // back-references may be empty
    }
  }

  const std::vector<std::uint8_t>& code_;
  int visits_ = 0;
};

}  // namespace

Prefilter AnalyzeProgram(const std::vector<std::uint8_t>& code) {
  Prefilter pf;
  auto next = [&code](int p) {
    std::int32_t off = ReadInt32(&code[p + 1]);
    return off == 0 ? -1 : p + off;
  };
  const int top = 1;
  int afterTop = next(top);
  if (code[top] == kBranch && (afterTop < 0 || code[afterTop] != kBranch)) {
    int scan = top + kNodeHeader;
    int s = scan;
    while (s >= 0 && (code[s] == kOpen || code[s] == kClose || code[s] == kNothing ||
                      code[s] == kComment)) {
      s = next(s);
    }
    if (s >= 0 && code[s] == kBol) pf.anchored = true;
    if (s >= 0 && code[s] == kExactly) {
      pf.firstLiteral = reinterpret_cast<const char*>(&code[s + kNodeHeader]);
    }
    for (int p = scan; p >= 0 && pf.required.size() < 8; p = next(p)) {
      if (code[p] == kExactly) {
        pf.required.emplace_back(reinterpret_cast<const char*>(&code[p + kNodeHeader]));
      }
    }
  }
  FirstBytes fb(code);
  if (fb.Collect(top)) {
    pf.useFirstSet = true;
    pf.firstSet = fb.set;
  }
  return pf;
}

}  // namespace tovi::regex

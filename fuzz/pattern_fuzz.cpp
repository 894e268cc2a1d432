// Fuzzes the pattern compiler and matcher together. Input layout: one byte of settings (the six
// modifiers, then two bits for the line-break tables), one byte giving the pattern's length
// (modulo what is left), the pattern, and the rest as the text to search.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "regex/pattern.h"

namespace {

// Small enough that a slow case costs milliseconds, not the fuzzer's time-out.
constexpr std::int64_t kFuzzStepLimit = 200000;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

bool KnownCode(int code) {
  switch (code) {
    case 102: case 103: case 104: case 106: case 107: case 108: case 109: case 110:
    case 111: case 112: case 113: case 115: case 116: case 122: case 124: case 125:
    case 127: case 1003: case 1014: case 1016:
      return true;
    default:
      return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const unsigned settings = data[0];
  const std::size_t patternLength = data[1] % (size - 1);
  std::string pattern(reinterpret_cast<const char*>(data + 2), patternLength);
  std::string input(reinterpret_cast<const char*>(data + 2 + patternLength), size - 2 - patternLength);

  tovi::TPattern p;
  p.SetMatchStepLimit(kFuzzStepLimit);
  p.SetModifierI(settings & 1);
  p.SetModifierR(settings & 2);
  p.SetModifierS(settings & 4);
  p.SetModifierG(settings & 8);
  p.SetModifierM(settings & 16);
  p.SetModifierX(settings & 32);
  if (settings & 64) p.SetLinePairedSeparator("");
  if (settings & 128) p.SetLineBreakChars("\n");
  p.SetInputString(input);
  p.SetExpression(pattern);
  try {
    if (p.Exec()) {
      const std::int64_t length = static_cast<std::int64_t>(p.InputString().size());
      for (int n = 0; n < tovi::TPattern::kGroupCount; ++n) {
        std::int64_t start = p.GroupStart(n), len = p.GroupLength(n);
        Check(n > 0 || start >= 0, "group 0 is set after a match");
        if (start < 0) continue;
        Check(len >= 0 && start + len <= length, "group inside the input");
        Check(p.GroupText(n) == p.InputString().substr(start, len), "group text");
      }
    }
  } catch (const tovi::EPattern& e) {
    Check(KnownCode(e.FailCode()), "error code a pattern can provoke");
    Check(e.FailCode() >= 1000 ||
              (e.FailOffset() >= 0 && e.FailOffset() <= static_cast<int>(p.Expression().size())),
          "offset within the pattern");
    Check(p.LastError() == e.FailCode(), "last error kept");
  }
  return 0;
}

// Fuzzes the pattern compiler and matcher together. Input layout: one byte of settings (the six
// modifiers, then two bits for the line-break tables), one byte giving the pattern's length
// (modulo what is left), the pattern, and the rest as the text to search.
//
// Oracles: the plain backtracking path must find exactly the match and groups the accelerated
// path finds; and where the pattern means the same in the standard library's ECMAScript engine
// (a subset of the dialect, on short inputs), the leftmost match must be the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "regex/compiler.h"
#include "regex/matcher.h"
#include "regex/pattern.h"

namespace {

// Small enough that a slow case costs milliseconds, not the fuzzer's time-out.
constexpr tovi::TPatternLimits kFuzzLimits{400'000, std::size_t{8} << 20};
// The reference engine recurses per byte and backtracks without bound: short texts only, and
// only after our plain path got through them cheaply.
constexpr tovi::TPatternLimits kReferenceLimits{100'000, std::size_t{1} << 20};
constexpr std::size_t kReferenceMaxInput = 32;
constexpr std::size_t kReferenceMaxPattern = 24;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

// The errors a pattern or an input can provoke; the rest mean a broken program or a misuse.
bool KnownCode(int code) {
  switch (code) {
    case tovi::kErrTooManyGroups: case tovi::kErrUnmatchedOpen: case tovi::kErrUnmatchedClose:
    case tovi::kErrOperandCouldBeEmpty: case tovi::kErrNestedQuantifier:
    case tovi::kErrBadHexDigit: case tovi::kErrInvalidRange:
    case tovi::kErrClassTrailingBackslash: case tovi::kErrNoHexCode:
    case tovi::kErrHexCodeTooBig: case tovi::kErrUnmatchedBracket:
    case tovi::kErrFollowsNothing: case tovi::kErrTrailingBackslash:
    case tovi::kErrBracesTooBig: case tovi::kErrBracesMinAboveMax:
    case tovi::kErrUnclosedComment: case tovi::kErrBadModifier: case tovi::kErrNoExpression:
    case tovi::kErrLoopStackExceeded: case tovi::kErrStepLimitExceeded:
    case tovi::kErrMemoryLimitExceeded:
      return true;
    default:
      return false;
  }
}

struct Settings {
  tovi::regex::Flags flags;
  bool noPair = false;
  bool onlyLineFeed = false;
};

Settings Decode(unsigned bits) {
  Settings s;
  s.flags = {(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0,
             (bits & 8) != 0, (bits & 16) != 0, (bits & 32) != 0};
  s.noPair = (bits & 64) != 0;
  s.onlyLineFeed = (bits & 128) != 0;
  return s;
}

void Configure(tovi::TPattern& p, const Settings& s) {
  p.SetLimits(kFuzzLimits);
  p.SetModifierI(s.flags.i);
  p.SetModifierR(s.flags.r);
  p.SetModifierS(s.flags.s);
  p.SetModifierG(s.flags.g);
  p.SetModifierM(s.flags.m);
  p.SetModifierX(s.flags.x);
  if (s.noPair) p.SetLinePairedSeparator("");
  if (s.onlyLineFeed) p.SetLineBreakChars("\n");
}

tovi::regex::Tables TablesOf(const tovi::TPattern& p, const Settings& s) {
  tovi::regex::Tables t;
  for (unsigned char c : p.BlankChars()) t.blank.Add(c);
  for (unsigned char c : p.WordLetters()) t.word.Add(c);
  for (unsigned char c : p.LineBreakChars()) t.lineBreak.Add(c);
  t.hasPair = !s.noPair;
  return t;
}

// The API's promises about a match or an error.
void CheckApi(tovi::TPattern& p, bool* found, int* error) {
  *found = false;
  *error = 0;
  try {
    *found = p.Exec();
  } catch (const tovi::EPattern& e) {
    *error = e.FailCode();
    Check(KnownCode(e.FailCode()), "error code a pattern can provoke");
    Check(e.FailCode() >= tovi::kFirstMatchError ||
              (e.FailOffset() >= 0 && e.FailOffset() <= static_cast<int>(p.Expression().size())),
          "offset within the pattern");
    Check(p.LastError() == e.FailCode(), "last error kept");
    return;
  }
  if (!*found) return;
  const std::int64_t length = static_cast<std::int64_t>(p.InputString().size());
  for (int n = 0; n < tovi::TPattern::kGroupCount; ++n) {
    std::int64_t start = p.GroupStart(n), len = p.GroupLength(n);
    Check(n > 0 || start >= 0, "group 0 is set after a match");
    if (start < 0) continue;
    Check(len >= 0 && start + len <= length, "group inside the input");
    Check(p.GroupText(n) == p.InputString().substr(start, len), "group text");
  }
}

// Runs the plain path; false when it ran out of budget (nothing to compare then).
bool RunPlain(const tovi::regex::Program& program, const std::string& input,
              const tovi::TPatternLimits& limits, bool* found, tovi::regex::Captures* groups) {
  try {
    tovi::regex::Matcher m(program, reinterpret_cast<const std::uint8_t*>(input.data()),
                           static_cast<std::int64_t>(input.size()), limits,
                           tovi::regex::MatchPath::kPlain);
    *found = m.Search(groups);
    return true;
  } catch (const tovi::EPattern& e) {
    Check(e.FailCode() >= tovi::kFirstMatchError, "a compiled program fails only at match time");
    return false;
  }
}

void CheckAgainstPlain(const tovi::TPattern& p, const tovi::regex::Program& program, bool found) {
  bool plainFound = false;
  tovi::regex::Captures groups{};
  if (!RunPlain(program, p.InputString(), kFuzzLimits, &plainFound, &groups)) return;
  Check(plainFound == found, "plain backtracking agrees on whether there is a match");
  if (!found) return;
  for (int n = 0; n < tovi::TPattern::kGroupCount; ++n) {
    bool set = groups.start[n] >= 0 && groups.end[n] >= groups.start[n];
    Check(p.GroupStart(n) == (set ? groups.start[n] : -1), "plain backtracking agrees on a group");
    Check(p.GroupLength(n) == (set ? groups.end[n] - groups.start[n] : -1),
          "plain backtracking agrees on a group's length");
  }
}

// Patterns of plain bytes, ".", groups, alternatives, classes and the quantifiers *, + and ?
// mean the same to ECMAScript as to us with the default settings, on texts without line breaks
// (our "." takes them, ECMAScript's does not).
bool ReferenceReadsAlike(const std::string& pattern, const std::string& input) {
  if (pattern.size() > kReferenceMaxPattern || input.size() > kReferenceMaxInput) return false;
  for (char c : pattern) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ';
    if (!plain && std::string("().|*+?[]^$-").find(c) == std::string::npos) return false;
  }
  for (char c : input) {
    if (c == '\n' || c == '\r') return false;
  }
  for (const char* differs : {"(?", "[]", "[^]", "[["}) {
    if (pattern.find(differs) != std::string::npos) return false;
  }
  return true;
}

// Our plain path with the default settings against ECMAScript, whatever the settings byte.
void CheckAgainstReference(const std::string& pattern, const std::string& input) {
  if (!ReferenceReadsAlike(pattern, input)) return;
  const tovi::TPattern defaults;
  tovi::regex::Program program;
  try {
    program = tovi::regex::CompilePattern(pattern, tovi::regex::Flags{}, TablesOf(defaults, Settings{}));
  } catch (const tovi::EPattern&) {
    return;
  }
  bool found = false;
  tovi::regex::Captures groups{};
  if (!RunPlain(program, input, kReferenceLimits, &found, &groups)) return;
  std::regex reference;
  try {
    reference.assign(pattern, std::regex::ECMAScript);
  } catch (const std::regex_error&) {
    return;  // where the two dialects' syntax rules differ
  }
  std::smatch m;
  Check(std::regex_search(input, m, reference) == found, "ECMAScript agrees on a match");
  if (!found) return;
  Check(m.position(0) == groups.start[0] && m.length(0) == groups.end[0] - groups.start[0],
        "ECMAScript agrees on the leftmost match");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const Settings settings = Decode(data[0]);
  const std::size_t patternLength = data[1] % (size - 1);
  std::string pattern(reinterpret_cast<const char*>(data + 2), patternLength);
  std::string input(reinterpret_cast<const char*>(data + 2 + patternLength), size - 2 - patternLength);

  tovi::TPattern p;
  Configure(p, settings);
  p.SetInputString(input);
  p.SetExpression(pattern);
  bool found = false;
  int error = 0;
  CheckApi(p, &found, &error);
  if (error == 0) {
    tovi::regex::Program program =
        tovi::regex::CompilePattern(p.Expression(), settings.flags, TablesOf(p, settings));
    CheckAgainstPlain(p, program, found);
  }
  CheckAgainstReference(p.Expression(), p.InputString());
  return 0;
}

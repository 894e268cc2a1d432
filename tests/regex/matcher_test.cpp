// The accelerated matching path against the plain backtracking one, over generated patterns and
// inputs: every shortcut (start positions, guarded choices, remembered literal scans, skipped
// undo records) must leave the match and all its groups exactly as plain backtracking finds
// them. Then the costs a pattern can cause: each search ends within its work and memory budget.
#include "regex/matcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "regex/compiler.h"
#include "regex/pattern.h"

namespace tovi::regex {
namespace {

class Generator {
 public:
  explicit Generator(std::uint32_t seed) : rng_(seed) {}

  std::string Pattern() {
    groups_ = 0;
    if (Chance(4)) return MarkerCut();
    return Alternation(2);
  }

  // Mostly bytes the pattern names, so that matches and near misses are common.
  std::string Input(const std::string& pattern) {
    std::string text;
    const std::size_t length = Chance(20) ? 200 + rng_() % 400 : rng_() % 24;
    while (text.size() < length) {
      if (Chance(3) && !pattern.empty()) {
        std::size_t at = rng_() % pattern.size();
        text += pattern.substr(at, 1 + rng_() % 4);
      } else {
        text += Pick({"a", "b", "c", "A", "B", "\n", "\r\n", " ", "-", "1", "<", ">", "\""});
      }
    }
    std::string clean;
    for (char c : text) {
      if (c != '\0') clean += c;
    }
    return clean;
  }

  Flags ChosenFlags() {
    Flags f;
    f.i = Chance(6);
    f.s = !Chance(5);
    f.g = !Chance(8);
    f.m = Chance(5);
    return f;
  }

 private:
  bool Chance(unsigned oneIn) { return rng_() % oneIn == 0; }
  const char* Pick(std::initializer_list<const char*> options) {
    return options.begin()[rng_() % options.size()];
  }

  // The "/parserlink" shape: start + "(.*?)" + end, the markers mostly plain text.
  std::string MarkerCut() {
    groups_ = 1;
    auto marker = [this] {
      return std::string(Pick({"<a>", "a", "ab", "\"", "</b>", "<", "b.", "a|b", "x?", "[ab]", "c",
                               "\\d", "ba", "(a)", "<a>b"}));
    };
    std::string start = Chance(8) ? "" : marker();
    if (start.find('(') != std::string::npos) ++groups_;
    return start + "(.*?)" + marker() + (Chance(4) ? Sequence(0) : "");
  }

  std::string Alternation(int depth) {
    std::string s = Sequence(depth);
    while (Chance(3)) s += "|" + Sequence(depth);
    return s;
  }

  std::string Sequence(int depth) {
    std::string s;
    for (unsigned n = 1 + rng_() % 4; n > 0; --n) s += Piece(depth);
    return s;
  }

  std::string Piece(int depth) {
    std::string atom = Atom(depth);
    if (Chance(2)) return atom;
    std::string q = Pick({"*", "+", "?", "{2}", "{0,2}", "{1,}", "{1,3}", "*", "+"});
    if (Chance(3)) q += "?";
    return atom + q;
  }

  std::string Atom(int depth) {
    switch (rng_() % 9) {
      case 0: case 1:
        return Pick({"a", "b", "c", "A", "ab", "ba", "abc", "<a>", "\"", "-"});
      case 2:
        return Pick({".", "[ab]", "[^a]", "[a-c]", "[^\\n]", "\\d", "\\w", "\\s", "\\W", "[\\w-]",
                     "\\n", "\\x61", "[Aa]"});
      case 3: case 4:
        if (depth > 0 && groups_ < 14) {
          ++groups_;
          return "(" + Alternation(depth - 1) + ")";
        }
        return "b";
      case 5:
        if (groups_ > 0) return "\\" + std::to_string(1 + rng_() % std::min(groups_, 3));
        return "a";
      case 6:
        return Pick({"^", "$", "\\b", "\\B", "\\A", "\\Z"});
      case 7:
        return Pick({"(?i)", "(?-i)", "(?-s)", "(?m)", "(?-g)", "(?g)"});
      default:
        return Pick({"a", "b"});
    }
  }

  std::mt19937 rng_;
  int groups_ = 0;
};

Tables DefaultTables(bool onlyLineFeed) {
  Tables t;
  for (char c : std::string(" \t\n\r\f")) t.blank.Add(static_cast<std::uint8_t>(c));
  for (char c : std::string("0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_")) {
    t.word.Add(static_cast<std::uint8_t>(c));
  }
  t.lineBreak.Add('\n');
  if (!onlyLineFeed) t.lineBreak.Add('\r');
  t.hasPair = !onlyLineFeed;
  return t;
}

// The match as text: "none", an error code, or each group's start and end.
std::string Outcome(const Program& program, const std::string& input, MatchPath path,
                    const TPatternLimits& limits) {
  Captures found;
  try {
    Matcher m(program, reinterpret_cast<const std::uint8_t*>(input.data()),
              static_cast<std::int64_t>(input.size()), limits, path);
    if (!m.Search(&found)) return "none";
  } catch (const EPattern& e) {
    return "error " + std::to_string(e.FailCode());
  }
  std::string s;
  for (int g = 0; g < kMaxGroups; ++g) {
    s += std::to_string(found.start[g]) + "-" + std::to_string(found.end[g]) + " ";
  }
  return s;
}

TEST(MatcherAgreement, AcceleratedPathFindsWhatPlainBacktrackingFinds) {
  Generator gen(20261212);
  const TPatternLimits limits{2'000'000, std::size_t{8} << 20};
  int compared = 0, matched = 0;
  for (int round = 0; round < 400000 && compared < 110000; ++round) {
    const std::string pattern = gen.Pattern();
    const Flags flags = gen.ChosenFlags();
    Program program;
    try {
      program = CompilePattern(pattern, flags, DefaultTables(round % 7 == 0));
    } catch (const EPattern&) {
      continue;
    }
    const std::string input = gen.Input(pattern);
    const std::string plain = Outcome(program, input, MatchPath::kPlain, limits);
    if (plain.rfind("error", 0) == 0) continue;  // past the budget: nothing to compare
    ASSERT_EQ(Outcome(program, input, MatchPath::kAccelerated, limits), plain)
        << "pattern " << pattern << " on \"" << input << "\"";
    ++compared;
    matched += plain != "none";
  }
  std::printf("%d cases compared, %d with a match\n", compared, matched);
  EXPECT_GE(compared, 100000);
  EXPECT_GT(matched, compared / 4);
}

}  // namespace
}  // namespace tovi::regex

// The matcher's dialect, case by case: what matches, which groups hold what, which errors a
// pattern provokes and where, and that the work of one search stays bounded.
#include "regex/pattern.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/build.h"

namespace tovi {
namespace {

// Applies space-separated settings: a modifier letter ("i", "-s"), "L=<bytes>" for the line
// break bytes or "P=<two bytes>" for the paired separator ("P=" removes it).
void Configure(TPattern& p, const std::string& settings) {
  std::istringstream in(settings);
  std::string token;
  while (in >> token) {
    if (token.rfind("L=", 0) == 0) {
      p.SetLineBreakChars(token.substr(2));
      continue;
    }
    if (token.rfind("P=", 0) == 0) {
      p.SetLinePairedSeparator(token.substr(2));
      continue;
    }
    bool on = token[0] != '-';
    switch (token.back()) {
      case 'i': p.SetModifierI(on); break;
      case 'r': p.SetModifierR(on); break;
      case 's': p.SetModifierS(on); break;
      case 'g': p.SetModifierG(on); break;
      case 'm': p.SetModifierM(on); break;
      case 'x': p.SetModifierX(on); break;
      default: ADD_FAILURE() << "bad setting " << token;
    }
  }
}

// Group 0, then "|" and each group up to the last one that took part ("~" for one that did
// not); "no match" when Exec found nothing.
std::string Describe(const TPattern& p) {
  std::string s = p.GroupText(0);
  int last = 0;
  for (int n = 1; n < TPattern::kGroupCount; ++n) {
    if (p.GroupStart(n) >= 0) last = n;
  }
  for (int n = 1; n <= last; ++n) s += "|" + (p.GroupStart(n) < 0 ? std::string("~") : p.GroupText(n));
  return s;
}

struct MatchCase {
  const char* settings;
  const char* pattern;
  std::string input;
  const char* expect;  // Describe() of the match, or nullptr for none
  std::int64_t start = -1;  // where group 0 must start, when given
};

void RunCases(const std::vector<MatchCase>& cases) {
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(std::string("pattern ") + c.pattern + " settings [" + c.settings + "]");
    TPattern p;
    Configure(p, c.settings);
    p.SetInputString(c.input);
    p.SetExpression(c.pattern);
    bool found = false;
    try {
      found = p.Exec();
    } catch (const EPattern& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    if (c.expect == nullptr) {
      EXPECT_FALSE(found) << Describe(p);
      continue;
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(Describe(p), c.expect);
    if (c.start >= 0) {
      EXPECT_EQ(p.GroupStart(0), c.start);
    }
  }
}

TEST(PatternSyntax, MatchesLiteralsAlternativesAndEscapes) {
  RunCases({
      {"", "abc", "xabcx", "abc", 1},
      {"", "a.c", "xxabc", "abc"},
      {"", "a.c", "a\nc", "a\nc"},
      {"", "ab|cd", "xcd", "cd"},
      {"", "a|ab", "ab", "a"},  // the first way through wins, not the longest
      {"", "|b", "b", "", 0},
      {"", "b*", "abc", "", 0},
      {"", "\\d+", "ab123c", "123"},
      {"", "\\D+", "12ab3", "ab"},
      {"", "\\s+", "a \t\r\n\fb", " \t\r\n\f"},
      {"", "\\S+", "  ab ", "ab"},
      {"", "\\w+", "--a_9Z--", "a_9Z"},
      {"", "\\w+", "\xE0\xE1z", "z"},
      {"", "\\W+", "ab-+cd", "-+"},
      {"", "a\\D", "a", nullptr},
      {"", "\\t\\n\\r\\f\\a\\e", "\t\n\r\f\a\x1b", "\t\n\r\f\a\x1b"},
      {"", "\\x41\\x{42}\\x{00043}\\x6a\\x6A", "ABCjj", "ABCjj"},
      {"", "\\.\\*\\\\\\{\\q", ".*\\{q", ".*\\{q"},
      {"", "A\\x{}?B", "AB", "AB"},
      {"", "a\\x00", "a", nullptr},
      {"", "\\bab", "cab ab", "ab", 4},
      {"", "\\Bab", "cab", "ab", 1},
      {"", "ab\\b", "abc ab", "ab", 4},
      {"", "\\b", "  ", nullptr},
      {"", "\\B", "", "", 0},
      {"", "a^?b", "ab", "ab"},
  });
}

TEST(PatternSyntax, QuantifiersAreGreedyOrLazy) {
  RunCases({
      {"", "ab*", "abbbc", "abbb"},
      {"", "ab*?", "abbb", "a"},
      {"", "ab+", "abbb", "abbb"},
      {"", "ab+?", "abbb", "ab"},
      {"", "ab?", "ac", "a"},
      {"", "ab??c", "abc", "abc"},
      {"", "a{2}", "aaaa", "aa"},
      {"", "a{2,}", "aaaa", "aaaa"},
      {"", "a{2,3}", "aaaa", "aaa"},
      {"", "a{2,3}?", "aaaa", "aa"},
      {"", "a{2,}?", "aaaa", "aa"},
      {"", "xa{2,3}", "xa", nullptr},
      {"", "a{0}b", "ab", "b", 1},
      {"", "abc+", "abcc", "abcc"},  // the quantifier takes the last byte of the run
      {"", "abc+", "abab abcabc", "abc"},
      {"", "a.*b", "a1b2b3", "a1b2b"},
      {"", "a.*?b", "a1b2b3", "a1b"},
      {"", "a[^x]*?b", "a1b2b", "a1b"},
      {"", "a\\d*4", "a12345", "a1234"},
      {"", "(ab)*", "ababx", "abab|ab"},
      {"", "(ab)*?x", "ababx", "ababx|ab"},
      {"", "(ab)+?", "abab", "ab|ab"},
      {"", "(ab)??a", "aba", "a"},
      {"", "(a|b){2,3}", "babab", "bab|b"},
      {"", "(a|b){2,3}?", "babab", "ba|a"},
      {"", "(a|bc){2}d", "abcd", "abcd|bc"},
      {"", "(x(a|b){1,2}){2}", "xabxb", "xabxb|xb|b"},
      {"-g", "a+", "aaa", "a"},
      {"-g", "a+?", "aaa", "a"},
      {"-g", "(ab)+c", "ababc", "ababc|ab"},
      {"-g", "(a|b)*c", "abac", "abac|a"},
      {"", "(?-g)a*b", "aab", "aab"},
  });
}

TEST(PatternSyntax, GroupsKeepTheirLastRepetitionAndBackReferencesMatchIt) {
  RunCases({
      {"", "(ab|a)(bc|c)", "abc", "abc|ab|c"},
      {"", "(a)|(b)", "b", "b|~|b"},
      {"", "(a|b)*c", "abac", "abac|a"},
      {"", "(a*)b", "aab", "aab|aa"},
      {"", "(a)(b)?", "a", "a|a"},
      {"", "((a)|b)+", "ab", "ab|b|a"},
      {"", "(a(b)?)+", "aba", "aba|a|b"},
      {"", "(a+)b\\1", "aabaa", "aabaa|aa"},
      {"", "(a+)b\\1", "aaba", "aba|a"},
      {"", "(a)\\1", "ab", nullptr},
      {"", "\\1(a)", "aa", nullptr},  // the group has no text yet
      {"", "(\\w+) \\1", "say hello hello", "hello hello|hello"},
      {"", "(a)\\1*", "aaaa", "aaaa|a"},
      {"", "(a)\\1{2}", "aaaa", "aaa|a"},
      {"", "(ab)\\1+?", "ababab", "abab|ab"},
      {"", "(a)?\\1*b", "b", "b"},
      {"", "(a)?\\1b", "b", nullptr},
      {"i", "(a)\\1", "aA", "aA|a"},
      {"", "(a)\\1", "aA", nullptr},
      {"", "(a)(b)(c)(d)(e)(f)(g)(h)(i)\\9", "abcdefghii", "abcdefghii|a|b|c|d|e|f|g|h|i"},
      {"", "(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)",
       "abcdefghijklmn", "abcdefghijklmn|a|b|c|d|e|f|g|h|i|j|k|l|m|n"},
  });
}

TEST(PatternSyntax, ClassesHoldMembersRangesAndSetEscapes) {
  RunCases({
      {"", "[abc]+", "xcabz", "cab"},
      {"", "[abcd]+", "xdcabz", "dcab"},
      {"", "[^abc]+", "abxyc", "xy"},
      {"", "[^abcdef]+", "abxyc", "xy"},
      {"", "[]a]+", "x]a]", "]a]"},
      {"", "[^]a]+", "]ab", "b"},
      {"", "[a-c]+", "dabce", "abc"},
      {"", "[-a]+", "x-a-", "-a-"},
      {"", "[a-]+", "x-a", "-a"},
      {"", "[a-c-e]+", "xb-e", "b-e"},
      {"", "[a-c-e]", "d", nullptr},
      {"", "[\\d-z]+", "x1-z", "1-z"},
      {"", "[\\D]", "xD", "D"},
      {"", "[a-\\d]+", "xa-5", "a-5"},
      {"", "[a-\\d]", "b", nullptr},
      {"", "[\\n]", "a\nb", "\n"},
      {"", "[\\]]", "]", "]"},
      {"", "[\\w]+", "..ab_9..", "ab_9"},
      {"", "[\\s]+", "a \tb", " \t"},
      {"", "[\\S\\W]+", "xSW", "SW"},
      {"", "[\\b]", "xb", "b"},
      {"", "[\\x41-\\x43]+", "ABCD", "ABC"},
      {"", "[^a]", "a", nullptr},
      {"", "a[^b]", "a", nullptr},  // a negated class never matches the end
      {"", "[.]", "a.", "."},
      {"", "[$^*]+", "a$^*", "$^*"},
      {"", "[\\x00a]", "a", "a"},
      {"x", "[ ]", " ", " "},
  });
}

TEST(PatternSyntax, BracesThatCompleteNoQuantifierAreLiteral) {
  RunCases({
      {"", "a{2", "a{2", "a{2"},
      {"", "a{,3}", "a{,3}", "a{,3}"},
      {"", "a{x}", "a{x}", "a{x}"},
      {"", "a{2,x}", "a{2,x}", "a{2,x}"},
      {"", "{2}", "x{2}", "{2}"},
      {"", "{", "{", "{"},
      {"", "x{}", "x{}", "x{}"},
      {"", "a{1,2}{", "aa{", "aa{"},
      {"", "(a){,2}", "a{,2}", "a{,2}|a"},
  });
}

TEST(PatternModifiers, ApplyFromTheirPlaceToTheEndOfTheEnclosingGroup) {
  RunCases({
      {"", "ABC", "abc", nullptr},
      {"", "(?i)ABC", "abc", "abc"},
      {"i", "abc", "ABC", "ABC"},
      {"", "(?I)abc", "ABC", "ABC"},
      {"", "a(?i)b", "aB", "aB"},
      {"", "a(?i)b", "AB", nullptr},
      {"", "((?i)a)b", "AB", nullptr},
      {"", "((?i)a)b", "Ab", "Ab|A"},
      {"", "(a(?i)b|c)", "C", "C|C"},
      {"", "(?i)a(?-i)b", "AB", nullptr},
      {"", "(?i)a(?-i)b", "Ab", "Ab"},
      {"", "(?-s)a.b", "a\nb", nullptr},
      {"-s", "a.b", "a\rb", nullptr},
      {"-s", "(?s)a.b", "a\nb", "a\nb"},
      {"", "(?is-m)A.B", "a\nb", "a\nb"},
      {"", "(?m)^b", "a\nb", "b"},
      {"", "(?-g)a+", "aaa", "a"},
      {"", "(?#note)ab", "ab", "ab"},
      {"", "a(?#x)?b", "ab", "ab"},
      {"", "(?i)?a", "a", "a"},
      {"x", "a b c", "abc", "abc"},
      {"x", "a # comment\n b", "ab", "ab"},
      {"x", "a\\ b", "a b", "a b"},
      {"x", "ab +", "abbb", "abbb"},
      {"", "(?x) a b", "ab", "ab"},
      {"", "((?x) a) b", "a b", "a b|a"},
      {"i", "[a-c]+", "xAbC", "AbC"},
      {"i", "[^a]", "Ab", "b"},
      {"", "(?-r)[\xE0-\xFF]+", "\xE0\xB8\xFF", "\xE0"},
  });
}

TEST(PatternAnchors, FollowTheMultiLineModifierAndTheLineBreaks) {
  RunCases({
      {"", "^ab", "ab", "ab"},
      {"", "^b", "ab", nullptr},
      {"", "^b", "a\nb", nullptr},
      {"", "a$", "a\n", nullptr},  // $ is the end of the input, not before a final break
      {"", "a$", "ba", "a", 1},
      {"", "\\Aab", "xab", nullptr},
      {"", "ab\\Z", "ab\n", nullptr},
      {"m", "\\Aab", "x\nab", nullptr},
      {"m", "ab\\Z", "ab\nab", "ab", 3},
      {"m", "^b", "a\nb", "b", 2},
      {"m", "^b", "a\rb", "b", 2},
      {"m", "a$", "a\nb", "a", 0},
      {"m", "^b", "a\r\nb", "b", 3},
      {"m", "^\\nb", "a\r\nb", nullptr},  // not between the two bytes of a pair
      {"m", "a$\\r", "a\r\nb", "a\r"},
      {"m", "\\r$", "a\r\nb", nullptr},
      {"m", "^$", "a\n\nb", "", 2},
      {"m P=", "^\\nb", "a\r\nb", "\nb"},
      {"m L= P=;|", "^b", "a;|b", "b", 3},
      {"m L= P=;|", "a$", "a;|b", "a", 0},
      {"m L= P=;|", "^b", "a;b", nullptr},
      {"m L= P=", "^b", "a\nb", nullptr},  // no line breaks at all: ^ is the input's start
      {"-s L= P=;|", "a.b", "a;b", "a;b"},
      {"-s L= P=;|", "a..b", "a;|b", nullptr},
      {"-s", "a.b", "a|b", "a|b"},
  });
}

TEST(PatternCase, FollowsWindows1251) {
  struct Pair {
    unsigned char c, partner;
  };
  const Pair pairs[] = {{'a', 'A'}, {'A', 'a'}, {'z', 'Z'}, {'1', '1'}, {'_', '_'},
                        {0xE0, 0xC0}, {0xC0, 0xE0}, {0xFF, 0xDF}, {0xB8, 0xA8}, {0xA8, 0xB8},
                        {0xA5, 0xB4}, {0x80, 0x90}, {0x81, 0x83}, {0xB2, 0xB3}, {0xB5, 0xB5},
                        {0xD7, 0xF7}, {0xAB, 0xAB}};
  for (const Pair& p : pairs) EXPECT_EQ(TPattern::ToggleCase(p.c), p.partner) << int(p.c);
  for (int c = 0; c < 256; ++c) {
    unsigned char t = TPattern::ToggleCase(static_cast<unsigned char>(c));
    EXPECT_EQ(TPattern::ToggleCase(t), c) << c;
  }
  RunCases({
      {"", "\xE0\xE1\xE2", "\xC0\xC1\xC2", nullptr},
      {"i", "\xE0\xE1\xE2", "\xC0\xC1\xC2", "\xC0\xC1\xC2"},
      {"i", "\xB8", "\xA8", "\xA8"},
      {"", "(?i)\xC0", "\xE0", "\xE0"},
      {"i", "[\xE0-\xE5]", "\xC3", "\xC3"},
      {"i", "(\xE0)\\1", "\xE0\xC0", "\xE0\xC0|\xE0"},
      {"", "[\xE0-\xFF]+", "\xE0\xB8\xFF", "\xE0\xB8\xFF"},
      {"-r", "[\xE0-\xFF]+", "\xE0\xB8\xFF", "\xE0"},
      {"", "[\xC0-\xDF]+", "\xC0\xA8\xDF", "\xC0\xA8\xDF"},
      {"-r", "[\xC0-\xDF]+", "\xC0\xA8\xDF", "\xC0"},
      {"", "[\xE0-\xDF]+", "x\xE0\xC0\xB8\xA8", "\xE0\xC0\xB8\xA8"},
      {"", "[\xE0-\xEF]+", "\xE0\xB8", "\xE0"},
  });
}

// Start positions are skipped by what a match must begin with or contain; none of that may
// lose a match.
TEST(PatternSearch, SkipsOnlyPositionsThatCannotMatch) {
  RunCases({
      {"", "(abc)?d", "abd", "d", 2},
      {"", "x*abc", "ababc", "abc", 2},
      {"", "(a|b)c", "abc", "bc|b", 1},
      {"", "^a|b", "xb", "b", 1},
      {"", "(^a|b)", "xb", "b|b", 1},
      {"", "b?^a", "a", "a", 0},
      {"", "[ab]*c", "xc", "c", 1},
      {"", "x?$", "ab", "", 2},
      {"", "a*", "", "", 0},
      {"", "(a)\\1*b|c", "xc", "c", 1},
      {"", "(?i)abc", "xABC", "ABC", 1},
      {"", "ab(?i)cd", "abCD", "abCD", 0},
      {"", "(?-s).*z", "ab\nz", "z", 3},
      {"", "\\bz", "a z", "z", 2},
      {"", "(x(a|b){1,2}){2}y", "xaxxaby", nullptr},
      {"", "abcabd", "abcabcabd", "abcabd", 3},
      {"", "(.*?)abd", "abcabd", "abcabd|abc", 0},
      {"", "a(.*?)bb", "a b bb", "a b bb| b ", 0},
      {"", "a(.{0,2}?)c", "a123c a1c", "a1c|1", 6},
  });
}

// The marker cut of the link extraction: start + "(.*?)" + end with default modifiers.
TEST(PatternMarkerCut, TakesTheShortestTextAfterTheLeftmostStart) {
  RunCases({
      {"", "key=(.*?);", "x key=one; key=two;", "key=one;|one"},
      {"", "<b>(.*?)</b>", "<b>line1\r\nline2</b>", "<b>line1\r\nline2</b>|line1\r\nline2"},
      {"", "start(.*?)end", "end start", nullptr},
      {"", "a.c(.*?)!", "xabcZ!", "abcZ!|Z"},
      {"", "(.*?)end", "abc end end", "abc end|abc "},
      {"", "s(.*?)e", "s1 s2e", "s1 s2e|1 s2"},
      {"", "<(.*?)>", "<>", "<>|"},
      {"", "\"(.*?)\"", "a=\"\" b=\"x\"", "\"\"|"},
      {"", "x(.*?)\\d", "xab3", "xab3|ab"},
      {"", "(.*?)", "abc", "|"},
  });
}

struct ErrorCase {
  const char* settings;
  std::string pattern;
  int code;
  int offset;
};

TEST(PatternErrors, ReportCodeMessageAndOffset) {
  std::string fifteen;
  for (int n = 0; n < 14; ++n) fifteen += "(a)";
  fifteen += "(b)";
  const ErrorCase cases[] = {
      {"", "(", 103, 1},        {"", "(ab", 103, 3},     {"", "((a)", 103, 4},
      {"", "((.*?);", 103, 7},  // a start marker that is a lone "("
      {"", "ab)", 104, 2},      {"", ")", 104, 0},       {"", "*", 115, 1},
      {"", "?", 115, 1},        {"", "a|*", 115, 3},     {"", "(+)", 115, 2},
      {"", "a**", 107, 2},      {"", "a*??", 107, 3},    {"", "a+{2}", 107, 2},
      {"", "a{2}*", 107, 4},    {"", "(a)*+", 107, 4},   {"", "^*", 106, 1},
      {"", "\\b+", 106, 2},     {"", "$+", 106, 1},      {"", "(?i)*", 106, 4},
      {"", "(a*)*", 106, 4},    {"", "(a|)+", 106, 4},   {"", "(a?){2}", 106, 4},
      {"", "()*", 106, 2},      {"", "(?#c)+", 106, 5},  {"", "x(a{0}){1,2}", 106, 7},
      {"", "\\xZZ", 108, 3},    {"", "\\x{1g}", 108, 5}, {"", "[\\xa@]", 108, 5},
      {"", "[b-a]", 109, 4},    {"-r", "[\xE0-\xDF]", 109, 4},
      {"", "[a\\", 110, 3},     {"", "\\x", 111, 2},     {"", "\\x4", 111, 3},
      {"", "\\x{41", 111, 5},   {"", "\\x{100}", 112, 7}, {"", "[abc", 113, 4},
      {"", "[", 113, 1},        {"", "[]", 113, 2},      {"", "[^]", 113, 3},
      {"", "ab\\", 116, 3},     {"", "a{123456789}", 122, 11},
      {"", "a{1,123456789}", 122, 13},                   {"", "a{3,2}", 124, 6},
      {"", "(?#abc", 125, 6},   {"", "(?q)", 127, 3},    {"", "(?i", 127, 3},
      {"", "(?:a)", 127, 3},    {"", "(?i-", 127, 4},    {"", fifteen, 102, 43},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE("pattern " + c.pattern);
    TPattern p;
    Configure(p, c.settings);
    p.SetInputString("aaaa");
    p.SetExpression(c.pattern);
    try {
      p.Exec();
      ADD_FAILURE() << "no error";
    } catch (const EPattern& e) {
      EXPECT_EQ(e.FailCode(), c.code);
      EXPECT_EQ(e.FailOffset(), c.offset);
      EXPECT_EQ(std::string(e.what()),
                TPattern::ErrorMessage(c.code) + " (pos " + std::to_string(c.offset) + ")");
      EXPECT_EQ(p.LastError(), c.code);
    }
  }
}

// The texts of codes that patterns and searches reach are checked where they are reached.
TEST(PatternErrors, CodesWithoutATextAndExecErrorsWithoutAnOffset) {
  for (int code : {0, 101, 1006, 1018}) EXPECT_EQ(TPattern::ErrorMessage(code), "Unknown error");
  EXPECT_EQ(std::string(EPattern(1005, 7).what()), "Pattern(exec): No Input String Specified");
  EXPECT_EQ(EPattern(1005, 7).FailOffset(), -1);
}

int ExecError(TPattern& p) {
  try {
    p.Exec();
  } catch (const EPattern& e) {
    return e.FailCode();
  }
  return 0;
}

TEST(PatternErrors, ExecNeedsAPatternAndAnInput) {
  TPattern p;
  EXPECT_EQ(ExecError(p), 1003);
  p.SetInputString("abc");
  p.SetExpression("");
  EXPECT_EQ(ExecError(p), 1003);
  try {
    p.Compile();
    ADD_FAILURE();
  } catch (const EPattern& e) {
    EXPECT_EQ(e.FailCode(), 100);
    EXPECT_STREQ(e.what(), "Pattern(comp): Null Argument (pos 0)");
  }
  TPattern q;
  q.SetExpression("a");
  EXPECT_EQ(ExecError(q), 1005);
  q.SetInputString("");
  EXPECT_FALSE(q.Exec());
}

TEST(PatternErrors, NoProgramIsKeptAfterAPatternError) {
  TPattern p;
  p.SetInputString("xab");
  p.SetExpression("a(");
  EXPECT_EQ(ExecError(p), 103);
  EXPECT_EQ(ExecError(p), 103);
  p.SetExpression("a(b)");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(Describe(p), "ab|b");
  p.SetModifierI(true);  // a change of modifiers recompiles
  p.SetInputString("xAB");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(Describe(p), "AB|B");
}

TEST(PatternErrors, PairedSeparatorNeedsTwoDifferentBytesOrNone) {
  for (const char* bad : {"a", "aa", "abc", "\n\n"}) {
    TPattern p;
    try {
      p.SetLinePairedSeparator(bad);
      ADD_FAILURE() << bad;
    } catch (const EPattern& e) {
      EXPECT_EQ(e.FailCode(), 128);
      EXPECT_EQ(p.LinePairedSeparator(), "\r\n");
    }
  }
  TPattern p;
  p.SetLinePairedSeparator("");
  EXPECT_EQ(p.LinePairedSeparator(), "");
  p.SetLinePairedSeparator(";|");
  EXPECT_EQ(p.LinePairedSeparator(), ";|");
}

TEST(PatternState, DefaultsAndGroupAccess) {
  TPattern p;
  EXPECT_FALSE(p.ModifierI());
  EXPECT_TRUE(p.ModifierR());
  EXPECT_TRUE(p.ModifierS());
  EXPECT_TRUE(p.ModifierG());
  EXPECT_FALSE(p.ModifierM());
  EXPECT_FALSE(p.ModifierX());
  EXPECT_EQ(p.BlankChars(), std::string(" \t\n\r\f"));
  EXPECT_EQ(p.WordLetters().size(), 63u);
  EXPECT_EQ(p.LineBreakChars(), "\r\n");
  EXPECT_EQ(p.LinePairedSeparator(), "\r\n");
  EXPECT_EQ(p.GroupText(0), "");
  p.SetInputString("xaby");
  p.SetExpression("a(b)");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(p.GroupText(1), "b");
  EXPECT_EQ(p.GroupText(-1), "");
  EXPECT_EQ(p.GroupText(15), "");
  EXPECT_EQ(p.GroupText(2), "");
  p.SetInputString("xaby");  // a new input forgets the match
  EXPECT_EQ(p.GroupText(0), "");
  p.SetExpression("q");
  EXPECT_FALSE(p.Exec());
  EXPECT_EQ(p.GroupText(0), "");
}

TEST(PatternState, ChangedTablesTakeEffect) {
  TPattern p;
  p.SetBlankChars("_");
  p.SetWordLetters("ab");
  p.SetInputString("x_ab c");
  p.SetExpression("\\s\\w+\\b");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(p.GroupText(0), "_ab");
}

TEST(PatternZeroBytes, CutThePatternAndTheInput) {
  TPattern p;
  p.SetInputString(std::string("ab\0cd", 5));
  EXPECT_EQ(p.InputString(), "ab");
  p.SetExpression("cd");
  EXPECT_FALSE(p.Exec());
  p.SetExpression("b$");
  EXPECT_TRUE(p.Exec());
  p.SetExpression(std::string("b\0zz", 4));
  EXPECT_EQ(p.Expression(), "b");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(p.GroupText(0), "b");
  p.SetExpression(std::string("\0a", 2));
  EXPECT_EQ(ExecError(p), 1003);
}

std::string NestedLoops(int depth) {
  std::string s = "a";
  for (int n = 0; n < depth; ++n) s = "(" + s + "){1,2}";
  return s;
}

TEST(PatternLimits, CountedLoopsNestTenDeep) {
  TPattern p;
  p.SetInputString("aa");
  p.SetExpression(NestedLoops(10));
  EXPECT_TRUE(p.Exec());
  p.SetExpression(NestedLoops(11));
  EXPECT_EQ(ExecError(p), 1014);
  p.SetExpression("((a)*)*x");  // greedy stars are not counted loops... but can be empty
  EXPECT_EQ(ExecError(p), 106);
}

// The code and text of the error Exec raises; empty when it raises none.
std::string ExecFailure(TPattern& p) {
  try {
    p.Exec();
  } catch (const EPattern& e) {
    return std::to_string(e.FailCode()) + " " + e.what();
  }
  return "";
}

TEST(PatternLimits, CatastrophicBacktrackingStopsWithinTheWorkBudget) {
  TPattern p;
  p.SetLimits({5'000'000, TPatternLimits().memoryBytes});
  p.SetInputString(std::string(40, 'a') + "dc");
  p.SetExpression("(a|aa)*c");
  EXPECT_EQ(ExecFailure(p), "1016 Pattern(exec): Match Step Limit Exceeded");
  p.SetLimits({1000, TPatternLimits().memoryBytes});
  p.SetInputString(std::string(10000, 'a') + "cb");
  p.SetExpression("(ab|a)*b");
  EXPECT_EQ(ExecError(p), kErrStepLimitExceeded);
}

std::string Times(const std::string& text, int n) {
  std::string s;
  for (int k = 0; k < n; ++k) s += text;
  return s;
}

// Searches that ran for seconds within the old step budget, which counted neither the bytes
// compared nor the bytes scanned: each now ends within a second, with its answer, or with 1016
// only where the budget is meant to run out.
TEST(PatternLimits, EverySearchEndsWithinASecond) {
  constexpr const char* kBudgetRunsOut = "1016";
  struct Case {
    std::string pattern, input;
    const char* outcome;  // group 0, "" for no match, or kBudgetRunsOut
    std::int64_t workUnits = TPatternLimits().workUnits;
  };
  const Case cases[] = {
      {"x(.*?)y", "y" + std::string(300000, 'x'), ""},
      {"<li>(.*?)</ul>", "</ul>" + Times("<li>a", 60000), ""},
      {"a[^z]*q", "q" + std::string(100000, 'a'), ""},
      {".*(?i)" + std::string(4000, 'a') + "b", std::string(8192, 'a'), ""},
      // Backtracking square in the input's length: stopped by the budget, not by the clock.
      {"(a*?)a*\\1b", std::string(7000, 'a') + "cb", kBudgetRunsOut},
      {"(a*?)a*\\1b", std::string(300, 'a') + "cb", "b"},
      // Few steps, each comparing kilobytes: the budget counts the bytes.
      {"(.*)\\1x", std::string(20000, 'a') + "bx", kBudgetRunsOut, 2'000'000},
      // A megabyte of lazy runs, each before a literal: preparing the search is linear too.
      {Times(".*?a", 1 << 18) + "(b)", "ab", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern.substr(0, 20));
    TPattern p;
    p.SetLimits({c.workUnits, TPatternLimits().memoryBytes});
    p.SetInputString(c.input);
    p.SetExpression(c.pattern);
    const auto begin = std::chrono::steady_clock::now();
    std::string outcome;
    try {
      if (p.Exec()) outcome = p.GroupText(0);
    } catch (const EPattern& e) {
      outcome = std::to_string(e.FailCode());
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    EXPECT_LT(took.count(), 1.0 * tovi::testing::kTimeScale);
    EXPECT_EQ(outcome, c.outcome);
  }
}

// start + "(.*?)" + end with a literal end marker: a budget of a few passes over the page is
// enough, however often the start marker stands, whether or not the end marker does.
TEST(PatternMarkerCut, CostsAboutOnePassOverThePage) {
  struct Case {
    const char* pattern;
    std::string page;
    std::int64_t group1;  // its length, or -1 for no match
  };
  const std::string items = Times("<li>a", 200000);  // a megabyte
  const Case cases[] = {
      {"<li>(.*?)</ul>", "</ul>" + items, -1},
      {"<li>(.*?)</ul>", items + "</ul>", 999'996},
      {"<li>(.*?)</ul>", items.substr(0, 500'000) + "</ul>" + items, 499'996},
      {"(?i)<LI>(.*?)</UL>", "</ul>" + items, -1},
      {"x(.*?)y", "y" + std::string(1'000'000, 'x'), -1},
      {"(.*?)</ul>", items, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    TPattern p;
    p.SetLimits({4 * static_cast<std::int64_t>(c.page.size()), TPatternLimits().memoryBytes});
    p.SetInputString(c.page);
    p.SetExpression(c.pattern);
    bool found = false;
    EXPECT_NO_THROW(found = p.Exec());
    EXPECT_EQ(found ? p.GroupLength(1) : -1, c.group1);
  }
}

// A pass through a loop that consumes nothing (a back-reference to an empty text) ends the
// loop instead of repeating it until the budget runs out.
TEST(PatternLimits, APassThatConsumesNothingEndsTheLoop) {
  RunCases({
      {"", "(a?)(\\1)*b", "b", "b||", 0},
      {"", "(a?)(\\1)+b", "b", "b||", 0},
      {"", "(a?)(\\1){3,5}b", "b", "b||", 0},
      {"", "(a?)(\\1)*?b", "b", "b|", 0},
      {"", "(a?)(\\1|x)*b", "xxb", "xxb||", 0},  // the empty pass is the last one
      {"", "(a?)(\\1c?)*b", "ccb", "ccb||", 0},
  });
}

// Backtracking state stays within its memory cap: (a|b)*c over megabytes needs none kept per
// repetition, and a match that needs more than the cap ends with its own error.
TEST(PatternLimits, MemoryStaysWithinItsCap) {
  TPattern p;
  p.SetInputString(std::string(1'500'000, 'a') + "c");
  p.SetExpression("(a|b)*c");
  ASSERT_TRUE(p.Exec()) << ExecFailure(p);
  EXPECT_EQ(p.GroupLength(0), 1'500'001);
  EXPECT_EQ(p.GroupText(1), "a");
  p.SetLimits({TPatternLimits().workUnits, std::size_t{1} << 20});
  p.SetInputString(Times("ab", 100000) + "c");
  p.SetExpression("(a|ab)*c");
  EXPECT_EQ(ExecFailure(p), "1017 Pattern(exec): Match Memory Limit Exceeded");
}

// A page of about a megabyte of markup-like text with line breaks.
std::string Page(std::size_t size) {
  std::string page;
  std::mt19937 rng(7);
  const char* words[] = {"<div>", "</div>", "text", " ", "\r\n", "<a href=\"x\">", "</a>", "=", ";"};
  while (page.size() < size) page += words[rng() % 9];
  return page;
}

TEST(PatternLongInput, CutsAMegabytePageWithoutDeepRecursion) {
  std::string page = Page(1 << 20);
  TPattern p;
  p.SetInputString(page + "<title>found\r\nit</title>" + page);
  p.SetExpression("<title>(.*?)</title>");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(p.GroupText(1), "found\r\nit");

  p.SetInputString(page + "<title>x" + page);
  EXPECT_FALSE(p.Exec());
  p.SetExpression("<div>(.*?)<nothing>");
  EXPECT_FALSE(p.Exec());
  p.SetExpression("(?-s)<div>(.*?)</div>");
  EXPECT_TRUE(p.Exec());
  p.SetExpression("<div>(.*?)\\d");  // no literal to skip to: quadratic, so it hits the budget
  p.SetLimits({20'000'000, TPatternLimits().memoryBytes});
  EXPECT_EQ(ExecError(p), kErrStepLimitExceeded);
  p.SetLimits(TPatternLimits());
  p.SetExpression("<div>(.*)</title>");
  EXPECT_FALSE(p.Exec());

  std::string pairs;
  for (int n = 0; n < 200000; ++n) pairs += "ab";
  p.SetInputString(pairs + "c");
  p.SetExpression("(ab)*c");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(p.GroupLength(0), 400001);
  p.SetExpression("(ab)*?c");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(p.GroupText(1), "ab");
  p.SetExpression("(a|b)+?c");
  ASSERT_TRUE(p.Exec());
  EXPECT_EQ(p.GroupLength(0), 400001);
}

// Random patterns against the standard library's ECMAScript engine, which backtracks with the
// same priorities: both must find the same leftmost match.
std::string RandomPattern(std::mt19937& rng, int depth) {
  std::string s;
  int alternatives = 1 + static_cast<int>(rng() % 3 == 0);
  for (int a = 0; a < alternatives; ++a) {
    if (a > 0) s += "|";
    int pieces = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < pieces; ++k) {
      const char* atoms[] = {"a", "b", ".", "[ab]", "[^a]", "ab", "c"};
      unsigned pick = rng() % (depth > 0 ? 9 : 7);
      s += pick < 7 ? std::string(atoms[pick]) : "(" + RandomPattern(rng, depth - 1) + ")";
      const char* quantifiers[] = {"", "", "*", "+", "?", "{2}", "{1,2}", "{0,2}", "{2,}"};
      s += quantifiers[rng() % 9];
      if (rng() % 4 == 0 && s.back() != ')' && s.back() != ']' && !std::isalpha(s.back()) &&
          s.back() != '.') {
        s += "?";
      }
    }
  }
  return s;
}

TEST(PatternAgreement, FindsTheSameLeftmostMatchAsABacktrackingReference) {
  std::mt19937 rng(20261207);
  int compared = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string pattern = RandomPattern(rng, 2);
    std::string input;
    for (unsigned n = rng() % 12; n > 0; --n) input += "abc"[rng() % 3];
    TPattern p;
    p.SetInputString(input);
    p.SetExpression(pattern);
    bool found;
    try {
      found = p.Exec();
    } catch (const EPattern& e) {
      ASSERT_EQ(e.FailCode(), 106) << pattern;  // the reference accepts empty loop bodies
      continue;
    }
    std::smatch m;
    bool expected = std::regex_search(input, m, std::regex(pattern, std::regex::ECMAScript));
    ASSERT_EQ(found, expected) << pattern << " on " << input;
    if (found) {
      EXPECT_EQ(p.GroupStart(0), m.position(0)) << pattern << " on " << input;
      EXPECT_EQ(p.GroupText(0), m.str(0)) << pattern << " on " << input;
    }
    ++compared;
  }
  EXPECT_GT(compared, 1500);
}

}  // namespace
}  // namespace tovi

#include "server/link_extraction.h"

#include <gtest/gtest.h>

#include <chrono>

#include "regex/pattern.h"

namespace tovi::server {
namespace {

struct CutCase {
  const char* page;
  const char* start;
  const char* end;
  CutOutcome outcome;
  const char* text;
};

TEST(LinkCuts, TakeTheShortestTextAfterTheFirstStartMarker) {
  const CutCase cases[] = {
      {"<b>first</b> <b>second</b>", "<b>", "</b>", CutOutcome::Found, "first"},
      {"<b>first</b> <b>second</b>", "", "</b>", CutOutcome::Found, "<b>first"},
      {"<b>x</i>", "<b>", "</b>", CutOutcome::NotFound, ""},
      {"", "<b>", "</b>", CutOutcome::NotFound, ""},
      {"id=42;\nname=a\nb;", "name=", ";", CutOutcome::Found, "a\nb"},  // "." takes line breaks
      {"v1.2 v1x3", "v1\\.", " ", CutOutcome::Found, "2"},
      {"axb", "a.", "b", CutOutcome::Found, ""},                           // markers are patterns
      {"<b>x</b>", "(", "</b>", CutOutcome::Failed, ""},
      {"<b>x</b>", "<b>", "[", CutOutcome::Failed, ""},
  };
  for (const CutCase& c : cases) {
    std::string text = "untouched";
    EXPECT_EQ(CutBetween(c.page, c.start, c.end, &text), c.outcome) << c.start << " " << c.end;
    if (c.outcome == CutOutcome::Found) {
      EXPECT_EQ(text, c.text) << c.start;
    }
  }
}

TEST(LinkCuts, ACatastrophicPatternFailsWithinItsStepBudget) {
  const std::string page = std::string(40, 'a') + "dc";
  std::string text;
  const auto started = std::chrono::steady_clock::now();
  for (const std::string start : {"(a|aa)*c", "(aa?)*c"}) {
    TPattern pattern;  // it compiles: the failure comes from the search, not the pattern
    pattern.SetExpression(start + "(.*?)d");
    EXPECT_NO_THROW(pattern.Compile()) << start;
    EXPECT_EQ(CutBetween(page, start, "d", &text), CutOutcome::Failed) << start;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(60));  // does not hang
}

}  // namespace
}  // namespace tovi::server

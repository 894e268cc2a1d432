#include "server/link_extraction.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "http/coding.h"
#include "server/media_handler.h"
#include "regex/pattern.h"
#include "support/held_lookup.h"
#include "support/page_server.h"
#include "support/wait.h"

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
  const std::string page = std::string(40, 'a').append("dc");
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

net::Endpoint At(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  net::Endpoint e;
  e.address[0] = a, e.address[1] = b, e.address[2] = c, e.address[3] = d;
  return e;
}

TEST(PageFetch, APeerOffThePcNeverGetsPagesFromItsLoopback) {
  struct Target { net::Endpoint at; bool reachesLoopbackServices; };
  // Both /8 blocks whole and edge to edge; a network or host number 0 elsewhere is no loopback.
  const Target targets[] = {{At(127, 0, 0, 1), true},      {At(127, 200, 1, 1), true},
                            {At(127, 0, 0, 0), true},      {At(127, 255, 255, 255), true},
                            {At(0, 0, 0, 0), true},        {At(0, 1, 2, 3), true},
                            {At(126, 255, 255, 255), false}, {At(128, 0, 0, 0), false},
                            {At(10, 0, 0, 0), false},      {At(192, 168, 1, 0), false},
                            {At(1, 0, 0, 0), false},       {At(192, 168, 1, 5), false},
                            {At(93, 184, 216, 34), false}};
  for (const Target& t : targets) {
    const std::string what = http::AddressToDotted(t.at.address);
    for (const char* pc : {"127.0.0.1", "127.8.9.10"}) EXPECT_TRUE(FetchAllowed(pc, t.at)) << what;
    for (const char* lan : {"192.168.1.20", "10.0.0.3", "128.0.0.1", "126.255.255.255"}) {
      EXPECT_EQ(FetchAllowed(lan, t.at), !t.reachesLoopbackServices) << what << " for " << lan;
    }
  }

  // Wired into the fetch: decided on the address a name resolves to, before any connect.
  testing::PageServer pages;
  for (const char* host : {"127.0.0.1", "127.1", "localhost"}) {
    EXPECT_EQ(FetchPage(pages.Url("/page", host), PageFetchLimits{}, "192.168.1.20"), "") << host;
    EXPECT_EQ(pages.Requests(), 0) << host;
  }
  EXPECT_EQ(FetchPage(pages.Url("/page", "127.1"), PageFetchLimits{}, "127.0.0.1"),
            testing::PageServer::kPage);
  EXPECT_EQ(pages.Requests(), 1);
}

TEST(PageFetch, ANameLookupThatNeverAnswersEndsWithTheFetch) {
  testing::HeldLookup held;
  struct Case { const char* what; int timeoutMs; int totalTimeoutMs; int abandonAfterMs; };
  const Case cases[] = {
      {"the connect's limit", 300, 60000, 0},
      {"the whole fetch's limit", 30000, 300, 0},
      {"switched off", 30000, 60000, 300},
  };
  for (const Case& c : cases) {
    PageFetchLimits limits;
    limits.timeoutMs = c.timeoutMs;
    limits.totalTimeoutMs = c.totalTimeoutMs;
    const auto start = std::chrono::steady_clock::now();
    const Abandoned abandoned = [&] {
      return c.abandonAfterMs > 0 &&
             std::chrono::steady_clock::now() - start > std::chrono::milliseconds(c.abandonAfterMs);
    };
    bool refused = true;
    EXPECT_EQ(FetchPage("http://slow.example/page", limits, "127.0.0.1", abandoned, &refused,
                        held.Lookup()),
              "")
        << c.what;
    EXPECT_FALSE(refused) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << c.what;
  }
  EXPECT_TRUE(testing::WaitUntil([&] { return held.Started() == 3; }, 5000));
  held.Release();  // the lookups left behind end on their own
  EXPECT_TRUE(testing::WaitUntil([] { return net::PendingLookups() == 0; }, 10000));
}

}  // namespace
}  // namespace tovi::server

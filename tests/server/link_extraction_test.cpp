#include "server/link_extraction.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

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

// The PC of a home LAN: its LAN adapter (the served one, 192.168.1.50/24, the router at .1) and
// a VPN's (10.8.0.6), beside loopback.
PcNetworks HomePc(std::uint32_t servedMask = 0xFFFFFF00) {
  PcNetworks pc;
  pc.adapters.resize(3);
  pc.adapters[0].ipv4 = {0x7F000001};
  pc.adapters[1].ipv4 = {0xC0A80132};
  pc.adapters[2].ipv4 = {0x0A080006};
  pc.gateways = {0xC0A80101};
  pc.servedMask = servedMask;
  return pc;
}

TEST(PageFetch, ADeviceHasThePcFetchOnlyWhatItCouldReachItself) {
  struct Target { net::Endpoint at; bool device; const char* what; };
  const Target targets[] = {
      {At(192, 168, 1, 9), true, "a NAS of the served network"},
      {At(93, 184, 216, 34), true, "a public host"},
      {At(1, 2, 3, 4), true, "a public host"},
      {At(192, 168, 1, 50), false, "the PC on the LAN"},
      {At(10, 8, 0, 6), false, "the PC on the VPN"},
      {At(127, 0, 0, 1), false, "the PC's loopback"},
      {At(127, 255, 255, 255), false, "loopback"},
      {At(0, 0, 0, 0), false, "this host"},
      {At(0, 1, 2, 3), false, "this network"},
      {At(192, 168, 1, 1), false, "the router"},
      {At(10, 8, 0, 1), false, "the VPN's network"},
      {At(192, 168, 2, 9), false, "another private network"},
      {At(172, 16, 0, 1), false, "private"},
      {At(169, 254, 7, 1), false, "link-local"},
      {At(100, 64, 0, 1), false, "overlay VPNs"},
      {At(239, 255, 255, 250), false, "multicast"},
      {At(255, 255, 255, 255), false, "broadcast"},
      {At(203, 0, 113, 5), false, "documentation"},
  };
  for (const char* device : {"192.168.1.7", "192.168.1.8", "8.8.8.8"}) {
    const PageReach reach = ReachOf(device, "192.168.1.50", HomePc());
    for (const Target& t : targets) {
      EXPECT_EQ(FetchAllowed(reach, t.at), t.device) << t.what << " for " << device;
    }
  }
  for (const char* pc : {"127.0.0.1", "127.8.9.10", "192.168.1.50", "10.8.0.6"}) {
    const PageReach reach = ReachOf(pc, "192.168.1.50", HomePc());
    for (const Target& t : targets) EXPECT_TRUE(FetchAllowed(reach, t.at)) << t.what << " for " << pc;
  }
  // No adapter holds the served address: a device gets public pages only.
  const PageReach unknown = ReachOf("192.168.1.8", "192.168.1.77", HomePc(0));
  EXPECT_FALSE(FetchAllowed(unknown, At(192, 168, 1, 9)));
  EXPECT_TRUE(FetchAllowed(unknown, At(1, 2, 3, 4)));

  // Wired into the fetch: decided on the address a name resolves to, nothing sent, "refused".
  testing::PageServer pages;
  const PageReach device = ReachOf("192.168.1.8", "192.168.1.50", HomePc());
  for (const char* host : {"127.0.0.1", "127.1", "localhost"}) {
    bool refused = false;
    EXPECT_EQ(FetchPage(pages.Url("/page", host), PageFetchLimits{}, device, {}, &refused), "") << host;
    EXPECT_TRUE(refused) << host;
    EXPECT_EQ(pages.Requests(), 0) << host;
  }
  const PageReach pc = ReachOf("127.0.0.1", "192.168.1.50", HomePc());
  EXPECT_EQ(FetchPage(pages.Url("/page", "127.1"), PageFetchLimits{}, pc), testing::PageServer::kPage);
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
    const PageReach pc = ReachOf("127.0.0.1", "", PcNetworks{});
    EXPECT_EQ(FetchPage("http://slow.example/page", limits, pc, abandoned, &refused, held.Lookup()),
              "")
        << c.what;
    EXPECT_FALSE(refused) << c.what;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << c.what;
  }
  EXPECT_TRUE(testing::WaitUntil([&] { return held.Started() == 3; }, 5000));
  held.Release();  // the lookups left behind end on their own
  EXPECT_TRUE(testing::WaitUntil([] { return net::PendingLookups() == 0; }, 10000));
}

// The slots and the answers' room: a peer holds at most its share, and what it cannot have waits
// or is refused without touching another's; more than a share is refused at once.
TEST(SharedRoom, APeerHoldsAtMostItsShareAndNeverAnothers) {
  SharedRoom room(4, 2);  // size, share
  struct Case {
    const char* peer;
    std::int64_t amount;
    int waitMs;
    bool had;
  };
  const Case cases[] = {
      {"tv", 2, 0, true},     {"attacker", 2, 0, true},
      {"attacker", 1, 100, false},  // its share is full
      {"nas", 1, 100, false},       // the room is
      {"nas", 3, 10000, false},     // more than a share, at once
  };
  std::vector<SharedRoom::Held> held;
  for (const Case& c : cases) {
    const auto started = std::chrono::steady_clock::now();
    SharedRoom::Held h = room.Take(c.peer, c.amount, c.waitMs, {});
    EXPECT_EQ(static_cast<bool>(h), c.had) << c.peer << " " << c.amount;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2)) << c.peer;
    if (h) held.push_back(std::move(h));
  }
  held.pop_back();  // what the attacker gives back is another's to take
  EXPECT_TRUE(room.Take("nas", 2, 0, {}));
}

}  // namespace
}  // namespace tovi::server

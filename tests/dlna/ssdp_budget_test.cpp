// Discovery's answer budget: which searches of a busy second get their answers.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "dlna/ssdp_budget.h"

namespace tovi::dlna {
namespace {

struct SearchStep {
  std::uint32_t searcher;
  int answers;
  bool everything;
  int atMs;  // since the first search
  bool granted;
};

struct BudgetCase {
  const char* name;
  std::vector<SearchStep> steps;
};

TEST(SsdpBudget, OneSearcherOrSearchesForEverythingCannotTakeTheWholeSecond) {
  // Shares as SsdpLimits sets them, scaled down: a total of 10, 4 to one searcher, 6 to
  // searches for everything, 3 searchers a second.
  const AnswerShares shares{10, 4, 6, 3};
  constexpr std::uint32_t kFlooder = 7, kTv = 8, kNas = 9, kOther = 10;
  const BudgetCase cases[] = {
      {"a flood takes its own share, the TV still gets answers",
       {{kFlooder, 1, false, 0, true}, {kFlooder, 3, false, 1, true}, {kFlooder, 1, false, 2, false},
        {kTv, 1, false, 3, true}}},
      {"a search wants all of its answers or none",
       {{kFlooder, 3, false, 0, true}, {kFlooder, 2, false, 1, false}, {kFlooder, 1, false, 2, true}}},
      {"searches for everything stop at their share, one for our type is answered",
       {{kFlooder, 4, true, 0, true}, {kNas, 4, true, 1, false}, {kNas, 2, true, 2, true},
        {kTv, 1, false, 3, true}}},
      {"the total holds whoever asks",
       {{kFlooder, 4, false, 0, true}, {kNas, 4, false, 1, true}, {kTv, 3, false, 2, false},
        {kTv, 2, false, 3, true}, {kTv, 1, false, 4, false}}},
      {"a new second gives every share again",
       {{kFlooder, 4, true, 0, true}, {kFlooder, 1, false, 999, false}, {kFlooder, 4, true, 1000, true}}},
      {"a searcher beyond those remembered waits for the next second",
       {{kFlooder, 1, false, 0, true}, {kTv, 1, false, 1, true}, {kNas, 1, false, 2, true},
        {kOther, 1, false, 3, false}, {kTv, 1, false, 4, true}, {kOther, 1, false, 1003, true}}},
  };
  const auto start = AnswerBudget::Clock::now();
  for (const BudgetCase& c : cases) {
    AnswerBudget budget(shares);
    for (const SearchStep& step : c.steps) {
      EXPECT_EQ(budget.Grant(step.searcher, step.answers, step.everything,
                             start + std::chrono::milliseconds(step.atMs)),
                step.granted)
          << c.name << ": searcher " << step.searcher << " at " << step.atMs << " ms";
    }
  }
}

}  // namespace
}  // namespace tovi::dlna

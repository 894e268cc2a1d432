// Which searches discovery answers when searches come faster than it will answer them: each
// second, answers are granted up to a total for all searchers, a share for each searcher's
// address, and a share for searches for everything (the costliest), so that one device's flood
// neither silences us for the others nor starves a search for our own type. A search is granted
// all of its answers or none. Pure (the caller says when it is); one thread uses a budget.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

namespace tovi::dlna {

// Answers a second; each share is at most the total.
struct AnswerShares {
  int total = 0;
  int perSearcher = 0;
  int forEverything = 0;
  // Searchers remembered within a second: a search from one more is not answered that second.
  std::size_t maxSearchers = 0;
};

class AnswerBudget {
 public:
  using Clock = std::chrono::steady_clock;
  explicit AnswerBudget(AnswerShares shares) : shares_(shares) {}

  // Whether a search from `searcher` (an IPv4 address) that wants `answers` answers, one for
  // everything or not, gets them at `now`; granted answers count against every share they use.
  bool Grant(std::uint32_t searcher, int answers, bool everything, Clock::time_point now);

 private:
  const AnswerShares shares_;
  Clock::time_point secondStart_{};
  int granted_ = 0;            // in the current second: all answers,
  int grantedEverything_ = 0;  // those to searches for everything,
  std::unordered_map<std::uint32_t, int> bySearcher_;  // and each searcher's (maxSearchers)
};

}  // namespace tovi::dlna

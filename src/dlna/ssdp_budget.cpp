#include "dlna/ssdp_budget.h"

namespace tovi::dlna {

bool AnswerBudget::Grant(std::uint32_t searcher, int answers, bool everything,
                         Clock::time_point now) {
  if (now - secondStart_ >= std::chrono::seconds(1)) {
    secondStart_ = now;
    granted_ = 0;
    grantedEverything_ = 0;
    bySearcher_.clear();
  }
  auto own = bySearcher_.find(searcher);
  const int ownGranted = own == bySearcher_.end() ? 0 : own->second;
  if (own == bySearcher_.end() && bySearcher_.size() >= shares_.maxSearchers) return false;
  if (granted_ + answers > shares_.total || ownGranted + answers > shares_.perSearcher ||
      (everything && grantedEverything_ + answers > shares_.forEverything)) {
    return false;
  }
  granted_ += answers;
  if (everything) grantedEverything_ += answers;
  bySearcher_[searcher] = ownGranted + answers;
  return true;
}

}  // namespace tovi::dlna

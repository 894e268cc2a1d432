// What one search may spend, counted as it goes: units of work (one per byte compared or
// scanned, kStepCost per step of the backtracking) and bytes of memory held in its stacks and
// memos. Running out raises EPattern 1016 or 1017. One search, one thread.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "regex/pattern.h"

namespace tovi::regex {

class MatchBudget {
 public:
  // A step visits a node or resumes a choice; passing over an alternative tests its first byte
  // against a table. Measured on this project's bench machine, each takes about as long as
  // comparing this many bytes one by one.
  static constexpr std::int64_t kStepCost = 10;
  static constexpr std::int64_t kPassCost = 3;

  explicit MatchBudget(const TPatternLimits& limits)
      : unitsLeft_(limits.workUnits), memoryLeft_(limits.memoryBytes) {}

  void Charge(std::int64_t units) {
    unitsLeft_ -= units;
    if (unitsLeft_ < 0) throw EPattern(kErrStepLimitExceeded, -1);
  }
  void Step() { Charge(kStepCost); }

  // Makes room for one more element in v, growing it within the memory cap.
  template <class T>
  void MakeRoom(std::vector<T>& v) {
    if (v.size() < v.capacity()) return;
    std::size_t grow = v.capacity() < 16 ? 16 : v.capacity();
    if (grow * sizeof(T) > memoryLeft_) grow = memoryLeft_ / sizeof(T);
    if (grow == 0) throw EPattern(kErrMemoryLimitExceeded, -1);
    memoryLeft_ -= grow * sizeof(T);
    v.reserve(v.capacity() + grow);
  }

 private:
  std::int64_t unitsLeft_;
  std::size_t memoryLeft_;
};

}  // namespace tovi::regex

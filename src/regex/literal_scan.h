// Finds a literal of the program in the input, at the speed of a vector scan for two of its
// rarest bytes, and remembers where it found it (and where it did not), so that a search asks
// about any stretch of the input once: the marker cut start + "(.*?)" + end costs one pass over
// a page even when the end marker is missing.
#pragma once
#include <cstdint>
#include <string_view>
#include <vector>

#include "regex/budget.h"
#include "regex/program.h"

namespace tovi::regex {

struct ProbePair {
  ScanProbe rare, second;  // the same one for a single byte
};

// The two bytes of a literal a scan should look for: the rarest in web pages and text.
ProbePair ChooseProbes(std::string_view literal, bool ignoreCase);

class LiteralScan {
 public:
  // literal: non-empty, no zero byte, kept by reference (the program's text outlives a search).
  // ignoreCase: a byte also matches its ToggleCase partner. probes: from ChooseProbes.
  LiteralScan(std::string_view literal, bool ignoreCase, const ProbePair& probes);

  // The first offset at or after from where the literal stands in in[0, length), or -1.
  // Charges the budget for every byte scanned or compared.
  std::int64_t NextAt(const std::uint8_t* in, std::int64_t length, std::int64_t from,
                      MatchBudget& budget);

 private:
  std::int64_t Scan(const std::uint8_t* in, std::int64_t length, std::int64_t from,
                    MatchBudget& budget);
  template <class Check>
  std::int64_t ByMemchr(const std::uint8_t* in, std::int64_t stop, std::int64_t* at, Check& check);
  bool ProbesStandAt(const std::uint8_t* at) const;
  bool StandsAt(const std::uint8_t* at) const;
  void Remember(std::int64_t hit, std::int64_t scannedTo, MatchBudget& budget);

  std::string_view literal_;
  bool ignoreCase_;
  ScanProbe rare_, second_;
  bool byteSearch_;      // memchr for rare_ while it proves rare in the input

  // What is known: every occurrence starting in [knownFrom_, knownTo_) is in hits_.
  std::int64_t knownFrom_ = 0, knownTo_ = 0;
  std::vector<std::int64_t> hits_;
};

}  // namespace tovi::regex

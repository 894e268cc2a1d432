// Finding a literal by its rarest bytes, sixteen at a time, and answering from what was found
// before must give what a byte-by-byte search gives: for any question order, either case rule,
// any place relative to the vector blocks, and more hits than the scan remembers.
#include "regex/literal_scan.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "regex/case_map.h"

namespace tovi::regex {
namespace {

std::int64_t ByteByByte(const std::string& in, const std::string& literal, bool ignoreCase,
                        std::int64_t from) {
  for (std::int64_t at = from; at + static_cast<std::int64_t>(literal.size()) <= static_cast<std::int64_t>(in.size()); ++at) {
    bool stands = true;
    for (std::size_t k = 0; k < literal.size() && stands; ++k) {
      auto c = static_cast<std::uint8_t>(in[at + k]), want = static_cast<std::uint8_t>(literal[k]);
      stands = c == want || (ignoreCase && c == ToggleCase(want));
    }
    if (stands) return at;
  }
  return -1;
}

TEST(LiteralScan, FindsWhatAByteByByteSearchFinds) {
  std::mt19937 rng(5);
  const std::string literals[] = {"a", "ab", "aab", "xYz", "<end-of-list>", "\"", "ba",
                                  std::string(21, 'b'), std::string(40, 'a').append("<y>").append(30, 'b')};
  for (const std::string& literal : literals) {
    for (bool ignoreCase : {false, true}) {
      SCOPED_TRACE(literal + (ignoreCase ? " ignoring case" : ""));
      std::string in;
      const std::size_t length = rng() % 3 == 0 ? rng() % 40 : 30000;
      while (in.size() < length) {
        in += rng() % 4 == 0 ? literal : std::string(1, "abxyzXYZ<>-\""[rng() % 12]);
      }
      LiteralScan scan(literal, ignoreCase, ChooseProbes(literal, ignoreCase));
      MatchBudget budget(TPatternLimits{});
      std::int64_t from = 0;
      for (int q = 0; q < 400; ++q) {
        // Mostly forward, as a search asks; sometimes back or far ahead.
        from = rng() % 5 == 0 ? rng() % (in.size() + 2) : from + rng() % 50;
        const auto* data = reinterpret_cast<const std::uint8_t*>(in.data());
        ASSERT_EQ(scan.NextAt(data, static_cast<std::int64_t>(in.size()), from, budget),
                  ByteByByte(in, literal, ignoreCase, from))
            << "from " << from << " of " << in.size();
      }
    }
  }
}

// Walked hit by hit past what it remembers, the scan forgets its oldest hits; asked then from
// every offset back from the end, it reaches the edge of what it forgot from the side it knows.
TEST(LiteralScan, AnswersAtTheEdgeOfWhatItForgot) {
  std::string in;
  for (int i = 0; i < 5000; ++i) in += "xa";
  const auto* data = reinterpret_cast<const std::uint8_t*>(in.data());
  const auto length = static_cast<std::int64_t>(in.size());
  LiteralScan scan("a", false, ChooseProbes("a", false));
  MatchBudget budget(TPatternLimits{});
  std::int64_t hit = -1;
  while ((hit = scan.NextAt(data, length, hit + 1, budget)) >= 0) {
  }
  for (std::int64_t from = length + 1; from >= 0; --from) {
    ASSERT_EQ(scan.NextAt(data, length, from, budget), ByteByByte(in, "a", false, from))
        << "from " << from;
  }
}

}  // namespace
}  // namespace tovi::regex

// A request's Range, from its header lines to the part of a body it gets: what a player that
// seeks, resumes or asks oddly is answered.
#include "http/byte_range.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http/header_info.h"

namespace tovi::http {
namespace {

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;
constexpr auto kWhole = RangeAnswer::Whole;
constexpr auto kPartial = RangeAnswer::Partial;
constexpr auto kNone = RangeAnswer::Unsatisfiable;

struct RangeCase {
  std::vector<std::string> lines;  // the request's header lines
  std::uint64_t size;
  RangeAnswer answer;
  std::uint64_t first, length;     // when not Unsatisfiable
};

TEST(ByteRanges, AnswerEachRangeAsPlayersExpect) {
  // "bytes=0-1,2-3,...": a list of `count` two-byte ranges.
  const auto listOf = [](std::size_t count) {
    std::string value = "Range: bytes=";
    for (std::size_t i = 0; i < count; ++i) {
      value += (i ? "," : "") + std::to_string(2 * i) + "-" + std::to_string(2 * i + 1);
    }
    return value;
  };
  const RangeCase cases[] = {
      {{}, 5000, kWhole, 0, 5000},
      {{"Range: bytes=0-"}, 5000, kWhole, 0, 5000},
      {{"Range: bytes=0-"}, 0, kWhole, 0, 0},
      {{"Range: bytes=1000-"}, 5000, kPartial, 1000, 4000},
      {{"Range: bytes=1000-1999"}, 5000, kPartial, 1000, 1000},
      {{"range: BYTES=5-5"}, 5000, kPartial, 5, 1},
      {{"Range: bytes=4999-"}, 5000, kPartial, 4999, 1},
      {{"Range: bytes=0-4999"}, 5000, kPartial, 0, 5000},
      {{"Range: bytes=1000-5000"}, 5000, kPartial, 1000, 4000},
      {{"Range: bytes=100-18446744073709551615"}, 5000, kPartial, 100, 4900},
      {{"Range: bytes=-500"}, 5000, kPartial, 4500, 500},
      {{"Range: bytes=-9000"}, 5000, kPartial, 0, 5000},
      {{"Range: bytes=-0"}, 5000, kNone, 0, 0},
      {{"Range: bytes=-10"}, 0, kNone, 0, 0},
      {{"Range: bytes=5000-"}, 5000, kNone, 0, 0},
      {{"Range: bytes=6000-7000"}, 5000, kNone, 0, 0},
      {{"Range: bytes=0-5"}, 0, kNone, 0, 0},
      {{"Range: bytes=5000000000-5000000099"}, 6 * kGiB, kPartial, 5000000000ull, 100},
      {{"Range: bytes=-3221225472"}, 6 * kGiB, kPartial, 3 * kGiB, 3 * kGiB},
      // A list: its first range the body can satisfy, alone.
      {{"Range: bytes=5-10,20-30"}, 5000, kPartial, 5, 6},
      {{"Range: bytes=7000-8000, -100"}, 5000, kPartial, 4900, 100},
      {{"Range: bytes= ,0-,100-"}, 5000, kWhole, 0, 5000},
      {{"Range: bytes=7000-,9000-"}, 5000, kNone, 0, 0},
      {{listOf(kMaxRangeSpecs)}, 5000, kPartial, 0, 2},
      {{listOf(kMaxRangeSpecs + 1)}, 5000, kWhole, 0, 5000},
      // Ignored: another unit, a range that is not one, a number past 64 bits, a misnamed line.
      {{"Range: items=0-5"}, 5000, kWhole, 0, 5000},
      {{"Range: 100-200"}, 5000, kWhole, 0, 5000},
      {{"Range: bytes=2000-1000"}, 5000, kWhole, 0, 5000},
      {{"Range: bytes=5-10,30-20"}, 5000, kWhole, 0, 5000},
      {{"Range: bytes=x-y"}, 5000, kWhole, 0, 5000},
      {{"Range: bytes=7-9 extra"}, 5000, kWhole, 0, 5000},
      {{"Range: bytes=18446744073709551616-"}, 5000, kWhole, 0, 5000},
      {{"Range : bytes=1-2"}, 5000, kWhole, 0, 5000},
      // Of two Range lines, the first.
      {{"Range: bytes=1-2", "Range: bytes=3-4"}, 5000, kPartial, 1, 2},
  };
  for (const RangeCase& c : cases) {
    TNetRequestHeaderInfo request;
    for (const std::string& line : c.lines) request.HeaderLines().Add(line);
    const std::string what = c.lines.empty() ? "(none)" : c.lines[0];
    std::uint64_t first = 77, length = 77;
    EXPECT_EQ(ResolveRange(request.Range(), c.size, &first, &length), c.answer) << what;
    if (c.answer != kNone) {
      EXPECT_EQ(first, c.first) << what;
      EXPECT_EQ(length, c.length) << what;
    }
  }
}

}  // namespace
}  // namespace tovi::http

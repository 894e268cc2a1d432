#include "server/byte_range.h"

#include <gtest/gtest.h>

namespace tovi::server {
namespace {

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;

ByteRange From(std::uint64_t first) { return {true, first, false, 0, false}; }
ByteRange Between(std::uint64_t first, std::uint64_t last) { return {true, first, true, last, false}; }
ByteRange LastBytes(std::uint64_t count) { return {true, 0, true, count, true}; }

struct RangeCase {
  const char* what;
  ByteRange range;
  std::uint64_t size;
  RangeAnswer answer;
  std::uint64_t first;
  std::uint64_t length;
};

const RangeCase kRangeCases[] = {
    {"no range", {}, 5000, RangeAnswer::Whole, 0, 5000},
    {"bytes=0-", From(0), 5000, RangeAnswer::Whole, 0, 5000},
    {"bytes=0- on an empty file", From(0), 0, RangeAnswer::Whole, 0, 0},
    {"open range", From(1000), 5000, RangeAnswer::Partial, 1000, 4000},
    {"end is inclusive", Between(1000, 1999), 5000, RangeAnswer::Partial, 1000, 1000},
    {"one byte", Between(5, 5), 5000, RangeAnswer::Partial, 5, 1},
    {"last byte only", Between(4999, 4999), 5000, RangeAnswer::Partial, 4999, 1},
    {"whole file named explicitly", Between(0, 4999), 5000, RangeAnswer::Partial, 0, 5000},
    {"end at the size", Between(1000, 5000), 5000, RangeAnswer::Partial, 1000, 4000},
    {"end far past the size", Between(1000, 1u << 31), 5000, RangeAnswer::Partial, 1000, 4000},
    {"suffix", LastBytes(500), 5000, RangeAnswer::Partial, 4500, 500},
    {"suffix longer than the file", LastBytes(9000), 5000, RangeAnswer::Partial, 0, 5000},
    {"suffix of the whole file", LastBytes(5000), 5000, RangeAnswer::Partial, 0, 5000},
    {"suffix a byte longer than the file", LastBytes(5001), 5000, RangeAnswer::Partial, 0, 5000},
    {"suffix of one byte", LastBytes(1), 5000, RangeAnswer::Partial, 4999, 1},
    {"open range from the last byte", From(4999), 5000, RangeAnswer::Partial, 4999, 1},
    {"first byte only", Between(0, 0), 5000, RangeAnswer::Partial, 0, 1},
    {"end a byte before start", Between(1000, 999), 5000, RangeAnswer::Whole, 0, 5000},
    {"range starting at the size", Between(5000, 5000), 5000, RangeAnswer::Unsatisfiable, 0, 0},
    {"empty suffix", LastBytes(0), 5000, RangeAnswer::Unsatisfiable, 0, 0},
    {"suffix of an empty file", LastBytes(10), 0, RangeAnswer::Unsatisfiable, 0, 0},
    {"start at the size", From(5000), 5000, RangeAnswer::Unsatisfiable, 0, 0},
    {"start past the size", Between(6000, 7000), 5000, RangeAnswer::Unsatisfiable, 0, 0},
    {"range of an empty file", Between(0, 5), 0, RangeAnswer::Unsatisfiable, 0, 0},
    {"end before start is ignored", Between(2000, 1000), 5000, RangeAnswer::Whole, 0, 5000},
    {"end before start past the size", Between(9000, 8000), 5000, RangeAnswer::Whole, 0, 5000},
    {"offsets past 4 GiB", Between(5 * kGiB, 5 * kGiB + 99), 6 * kGiB, RangeAnswer::Partial,
     5 * kGiB, 100},
    {"open range past 4 GiB", From(4 * kGiB + 1), 6 * kGiB, RangeAnswer::Partial, 4 * kGiB + 1,
     2 * kGiB - 1},
    {"suffix of a big file", LastBytes(3 * kGiB), 6 * kGiB, RangeAnswer::Partial, 3 * kGiB,
     3 * kGiB},
};

TEST(ByteRanges, ResolveAsRfc7233Says) {
  for (const RangeCase& c : kRangeCases) {
    std::uint64_t first = 77, length = 77;
    EXPECT_EQ(ResolveRange(c.range, c.size, &first, &length), c.answer) << c.what;
    if (c.answer != RangeAnswer::Unsatisfiable) {
      EXPECT_EQ(first, c.first) << c.what;
      EXPECT_EQ(length, c.length) << c.what;
      EXPECT_LE(first + length, c.size) << c.what;
    }
  }
}

}  // namespace
}  // namespace tovi::server

// The header records: a received Range with its RFC facts, 64-bit lengths.
#include "http/header_info.h"

#include <gtest/gtest.h>

namespace tovi::http {
namespace {

struct RangeCase {
  const char* header;  // nullptr: no Range line
  std::uint64_t start, end;
  bool present, hasEnd, suffix;
};

TEST(RequestHeaders, ParseRangeKeepingTheTableAndTheRfcFacts) {
  const RangeCase cases[] = {
      {nullptr, 0, 0, false, false, false},
      {"Range: bytes=100-200", 100, 200, true, true, false},
      {"Range: bytes=100-", 100, 0, true, false, false},
      {"Range: bytes=-500", 0, 500, true, true, true},
      {"Range: bytes=0-", 0, 0, true, false, false},
      {"Range: bytes=0-10,20-30", 0, 0, true, false, false},
      {"Range: bytes=5000000000-6000000000", 5000000000ull, 6000000000ull, true, true, false},
      {"Range: 100-200", 0, 0, true, false, false},  // no "=": all of it dropped
      {"Range: bytes=x-y", 0, 0, true, false, false},
      {"Range : bytes=1-2", 0, 0, false, false, false},
      {"Range: bytes=7-9 extra", 7, 9, true, true, false},
  };
  for (const RangeCase& c : cases) {
    TNetRequestHeaderInfo info;
    if (c.header) info.HeaderLines().Add(c.header);
    info.ProcessHeaders();
    const char* label = c.header ? c.header : "(none)";
    EXPECT_EQ(info.ContentRangeStart(), c.start) << label;
    EXPECT_EQ(info.ContentRangeEnd(), c.end) << label;
    EXPECT_EQ(info.HasRange(), c.present) << label;
    EXPECT_EQ(info.RangeHasEnd(), c.hasEnd) << label;
    EXPECT_EQ(info.RangeIsSuffix(), c.suffix) << label;
  }
  TNetRequestHeaderInfo two;
  two.HeaderLines().Add("Range: bytes=1-2");
  two.HeaderLines().Add("Range: bytes=3-4");
  two.ProcessHeaders();
  EXPECT_EQ(two.ContentRangeStart(), 1u);
}

TEST(RequestHeaders, ContentLengthIs64BitAndMinusOneWhenInvalid) {
  const std::pair<const char*, std::int64_t> cases[] = {
      {"Content-Length: 14", 14}, {"Content-Length:  7 ", 7}, {"Other: 1", -1},
      {"Content-Length: 5000000000", 5000000000ll}, {"Content-Length: x", -1},
      {"Content-Length: -5", -1}, {"Content-Length: 99999999999999999999", -1},
  };
  for (const auto& [line, length] : cases) {
    TNetRequestHeaderInfo info;
    info.HeaderLines().Add(line);
    info.ProcessHeaders();
    EXPECT_EQ(info.ContentLength(), length) << line;
    EXPECT_EQ(info.HasContentLength(), length >= 0) << line;
  }
}

}  // namespace
}  // namespace tovi::http

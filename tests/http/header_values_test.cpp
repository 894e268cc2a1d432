// Numbers and dates in header values, as both engines read and write them.
#include "http/header_values.h"

#include <gtest/gtest.h>

#include <tuple>

namespace tovi::http {
namespace {

TEST(HeaderValues, WholeNumbersIn64And32Bits) {
  using Int64 = std::optional<std::int64_t>;
  using Int32 = std::optional<std::int32_t>;
  const std::tuple<const char*, Int64, Int32> cases[] = {
      {"10", 10, 10}, {"-1", -1, -1}, {"+7", 7, 7}, {"2147483647", 2147483647, 2147483647},
      {"-2147483648", -2147483648ll, -2147483647 - 1}, {"2147483648", 2147483648ll, {}},
      {"9223372036854775807", 9223372036854775807ll, {}},
      {"-9223372036854775808", -9223372036854775807ll - 1, {}},
      {"9223372036854775808", {}, {}}, {"", {}, {}}, {"-", {}, {}}, {"1 2", {}, {}},
      {"0x10", {}, {}},
  };
  for (const auto& [text, value64, value32] : cases) {
    EXPECT_EQ(ParseInt64(text), value64) << text;
    EXPECT_EQ(ParseInt32(text), value32) << text;
  }
}

TEST(HeaderValues, HttpDatesFormatAndParseTheThreeForms) {
  const std::pair<std::int64_t, const char*> formatted[] = {
      {0, "Thu, 01 Jan 1970 00:00:00 GMT"},          {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
      {951868799, "Tue, 29 Feb 2000 23:59:59 GMT"},  {1796603712, "Mon, 07 Dec 2026 00:35:12 GMT"},
      {-1, "Wed, 31 Dec 1969 23:59:59 GMT"},
  };
  for (const auto& [seconds, text] : formatted) EXPECT_EQ(FormatHttpDate(seconds), text);
  const std::pair<const char*, std::int64_t> parsed[] = {
      {"Sun, 06 Nov 1994 08:49:37 GMT", 784111777},  {"Sunday, 06-Nov-94 08:49:37 GMT", 784111777},
      {"Sun Nov  6 08:49:37 1994", 784111777},       {"yesterday", 0},
  };
  for (const auto& [text, seconds] : parsed) EXPECT_EQ(ParseHttpDate(text), seconds) << text;
}

}  // namespace
}  // namespace tovi::http

// The header records: 64-bit lengths.
#include "http/header_info.h"

#include <gtest/gtest.h>

namespace tovi::http {
namespace {

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

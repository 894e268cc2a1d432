// The client's wire rules a misreading of would lose bodies or send a request other than asked.
#include <gtest/gtest.h>

#include "http/client/wire.h"

namespace tovi::http {
namespace {

TEST(ClientWire, StatusCodeIsTheSecondWord) {
  const std::pair<const char*, int> cases[] = {
      {"HTTP/1.1 200 OK", 200},   {"HTTP/1.0 404 Not Found", 404}, {"HTTP/1.1  302  Found", 302},
      {"HTTP/1.1 204", 204},      {"HTTP/1.1", -1},                {"HTTP/1.1 abc", -1},
      {"", -1},                   {"HTTP/1.1 99999999999 x", -1},  {"ICY 200 OK", 200},
      {"HTTP/1.1 2OO OK", -1},
  };
  for (const auto& [line, code] : cases) EXPECT_EQ(ParseStatusCode(line), code) << line;
}

TEST(ClientWire, HostLineNamesThePortUnlessItIs80) {
  EXPECT_EQ(HostHeaderValue("h", "80"), "h");
  EXPECT_EQ(HostHeaderValue("h", "8027"), "h:8027");
  EXPECT_EQ(HostHeaderValue("h", "080"), "h:080");
}

}  // namespace
}  // namespace tovi::http

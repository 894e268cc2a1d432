// Whether a connection stays open after an exchange: a wrong answer either drops a TV's next
// call or leaves both ends waiting on a connection the other has given up.
#include "http/keep_alive.h"

#include <gtest/gtest.h>

namespace tovi::http {
namespace {

TEST(KeepAlive, TheVersionAndTheConnectionOptionsDecide) {
  struct Case { const char* version; const char* options; bool open; };
  const Case cases[] = {
      {"HTTP/1.1", "", true},
      {"HTTP/1.1", "keep-alive", true},
      {"HTTP/1.1", "CLOSE", false},
      {"HTTP/1.1", " close ", false},
      {"HTTP/1.1", "TE, close", false},
      {"HTTP/1.1", "keep-alive,close", false},
      {"HTTP/1.1", "closed", true},
      {"HTTP/1.1", "x-close-later", true},
      {"HTTP/2.0", "", true},
      {"HTTP/1.0", "", false},
      {"HTTP/1.0", " Keep-Alive ", true},
      {"HTTP/1.0", "keep-alive, Upgrade", true},
      {"HTTP/1.0", ",keep-alive", true},
      {"HTTP/1.0", "no-keep-alive", false},
      {"HTTP/1.0", "keep-alive, close", false},
      {"HTTP/0.9", "", false},
      {"http/1.1", "", false},
      {"", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KeepsConnectionOpen(c.version, c.options), c.open)
        << c.version << " | " << c.options;
  }
}

}  // namespace
}  // namespace tovi::http

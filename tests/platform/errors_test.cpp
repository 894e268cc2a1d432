#include "platform/errors.h"

#include <gtest/gtest.h>

namespace tovi {
namespace {

TEST(EInOutError, CarriesTheRuntimeTexts) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {2, "File not found"},     {3, "Path not found"}, {5, "File access denied"},
      {112, "Disk full"},        {32, "I/O error 32"},  {0, "I/O error 0"},
  };
  for (const auto& c : cases) {
    const EInOutError e = EInOutError::FromCode(c.code);
    EXPECT_STREQ(e.what(), c.text);
    EXPECT_EQ(e.ErrorCode(), c.code);
  }
}

}  // namespace
}  // namespace tovi

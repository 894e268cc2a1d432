// Resume positions: kept per object id, bounded, the oldest giving way.
#include "dlna/bookmarks.h"

#include <gtest/gtest.h>

#include <string>

namespace tovi::dlna {
namespace {

TEST(Bookmarks, KeepTheLastPositionsWithinTheBound) {
  Bookmarks marks;
  marks.Set("film", 754);
  marks.Set("film", 800);
  EXPECT_EQ(marks.Of("film"), 800u);
  marks.Set("film", 0);  // back at the start: nothing to continue from
  EXPECT_EQ(marks.Of("film"), std::nullopt);
  marks.Set(std::string(kMaxBookmarkIdBytes + 1, 'x'), 10);
  EXPECT_EQ(marks.Of(std::string(kMaxBookmarkIdBytes + 1, 'x')), std::nullopt);

  for (std::size_t i = 0; i <= kBookmarksKept; ++i) marks.Set("episode " + std::to_string(i), 60);
  EXPECT_EQ(marks.Of("episode 0"), std::nullopt) << "the oldest gives way to the newest";
  EXPECT_EQ(marks.Of("episode 1"), 60u);
  EXPECT_EQ(marks.Of("episode " + std::to_string(kBookmarksKept)), 60u);
}

}  // namespace
}  // namespace tovi::dlna

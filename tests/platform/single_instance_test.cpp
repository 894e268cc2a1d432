// One copy per session: the place is taken while its claim lives and free once it is gone.
#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <random>

namespace tovi::instance {
namespace {

TEST(SingleInstance, ASecondClaimFailsWhileTheFirstLivesAndSucceedsOnceItIsGone) {
  const std::string name = "tovi-test-copy-" + std::to_string(std::random_device{}());
  std::unique_ptr<Claim> first = TryClaim(name);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TryClaim(name), nullptr) << "a second copy while the first runs";
  EXPECT_NE(TryClaim(name + "-other"), nullptr) << "another name is another place";
  first.reset();
  EXPECT_NE(TryClaim(name), nullptr) << "the place stays taken after the first copy ended";
}

}  // namespace
}  // namespace tovi::instance

// The Linux hold: one child process while held, ended by the release (or the blocker's end).
#include "platform/posix/sleep_inhibitor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::power {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SleepInhibitor, OneChildHoldsFromHoldToReleaseAndEndsWithTheBlocker) {
  testing::TempDir dir;
  const std::string log = dir.Path("log");
  // Stands in for systemd-inhibit: holds while its input is open, as the real one's "cat" does.
  const std::vector<std::string> argv = {"sh", "-c", "echo held >>'" + log + "'; cat; echo released >>'" + log + "'"};
  {
    std::unique_ptr<SleepBlocker> blocker = CreateCommandSleepBlocker(argv);
    blocker->Hold();
    blocker->Hold();  // already held: no second child
    ASSERT_TRUE(testing::WaitUntil([&] { return Read(log) == "held\n"; }, 5000)) << Read(log);
    blocker->Release();
    EXPECT_EQ(Read(log), "held\nreleased\n") << "Release returned before the hold ended";
    blocker->Release();  // nothing held: nothing to do
    blocker->Hold();
    ASSERT_TRUE(testing::WaitUntil([&] { return Read(log) == "held\nreleased\nheld\n"; }, 5000));
  }
  EXPECT_EQ(Read(log), "held\nreleased\nheld\nreleased\n") << "the blocker's end left the hold";
}

}  // namespace
}  // namespace tovi::power

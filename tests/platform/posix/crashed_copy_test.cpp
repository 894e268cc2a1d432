// A second start against a first copy in another process: told the first's address while it
// lives, and free to run once it was killed (as a crash ends it, with no cleanup of its own).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/single_instance.h"
#include "support/temp_dir.h"

namespace tovi::instance {
namespace {

TEST(SingleInstance, ASecondStartSeesALiveFirstCopyAndNotACrashedOne) {
  testing::TempDir runtime;
  ASSERT_EQ(setenv("XDG_RUNTIME_DIR", runtime.Native().c_str(), 1), 0);
  const std::string name = "remote-toviplayer";
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t first = fork();
  ASSERT_GE(first, 0);
  if (first == 0) {  // the first copy: claims, publishes, says so, and runs until killed
    close(ready[0]);
    std::unique_ptr<Claim> claim = TryClaim(name);
    if (claim) claim->Publish("10.1.2.3");
    const char answer = claim ? '1' : '0';
    if (write(ready[1], &answer, 1) != 1) _exit(1);
    for (;;) pause();
  }
  close(ready[1]);
  char answer = 0;
  ASSERT_EQ(read(ready[0], &answer, 1), 1);  // blocks until the first copy has answered
  close(ready[0]);
  EXPECT_EQ(answer, '1') << "the first copy could not claim";
  EXPECT_EQ(TryClaim(name), nullptr) << "a second copy while the first runs";
  EXPECT_EQ(NotifyFirstCopy(name).address, "10.1.2.3");
  kill(first, SIGKILL);
  ASSERT_EQ(waitpid(first, nullptr, 0), first);
  std::unique_ptr<Claim> next = TryClaim(name);
  EXPECT_NE(next, nullptr) << "the crashed copy's place blocks the next start";
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace tovi::instance

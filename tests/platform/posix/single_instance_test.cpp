// The one-copy lock file is never another file's second name: a hard link planted where it goes
// is neither truncated and written by the claim nor read as a first copy's address.
#include "platform/single_instance.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

namespace tovi::instance {
namespace {

std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SingleInstance, AHardLinkInTheLockFilesPlaceIsNeitherWrittenNorRead) {
  testing::TempDir runtime;
  ASSERT_EQ(setenv("XDG_RUNTIME_DIR", runtime.Native().c_str(), 1), 0);
  const std::filesystem::path target = runtime.Root() / "precious.txt";
  std::ofstream(target) << "precious";
  ASSERT_EQ(link(target.c_str(), (runtime.Root() / "linked.lock").c_str()), 0);

  std::unique_ptr<Claim> claim = TryClaim("linked");
  ASSERT_NE(claim, nullptr) << "a place that cannot be had guards nothing: the program runs";
  claim->Publish("192.168.1.50");
  EXPECT_EQ(Read(target), "precious");
  EXPECT_EQ(NotifyFirstCopy("linked").address, "");
  unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace
}  // namespace tovi::instance

// The real program killed with SIGKILL at random moments while typed "LocalRFS1" lines make it
// switch the server on and off, rewriting its settings file each time: afterwards the file is
// always one whole settings file (the old one or the new one), never cut short or missing; and
// a rewrite that a full disk stops leaves the old one.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace tovi::fault {
namespace {

// "[Path]", a folder, "[LFRS]", "true" or "false", each line ended: the switch state, or "?"
// when the text is not such a file.
std::string SwitchState(const std::string& text, const std::string& folder) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) return "?";  // the last line has no end: cut short
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  if (lines.size() != 4 || lines[0] != "[Path]" || lines[1] != folder || lines[2] != "[LFRS]") {
    return "?";
  }
  return lines[3] == "true" || lines[3] == "false" ? lines[3] : "?";
}

// Starts the program (its own copy, so the settings file lands beside it), types the switch
// every `paceMs` (a switch-on is followed at once by the next command, so typing ahead would
// leave the "true" state almost no time), kills it with SIGKILL `killAfterMs` after it shows
// its menu (at most 20 s on: a slow start, a sanitized build on a busy machine, would otherwise
// take the kills before any rewrite).
bool RunAndKill(const std::string& program, const std::string& runtimeFolder, int paceMs,
                int killAfterMs) {
  testing::ChildOptions options;
  // A session of its own (the one-copy lock lives there), apart from the folder whose files
  // the test counts.
  options.environment = {"XDG_RUNTIME_DIR=" + runtimeFolder};
  // The list service is pointed at a closed loopback port: nothing leaves the machine.
  testing::ChildProcess child({program, "--address", "127.0.0.1", "--list-host", "127.0.0.1:9",
                               "--site-host", "127.0.0.1:9"},
                              options);
  const bool started =
      child.WaitForOutput("Type a number", 0, 20000) != std::string::npos;
  bool typed = true;
  const auto killAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(killAfterMs);
  while (std::chrono::steady_clock::now() < killAt) {
    try {
      child.WriteLine("LocalRFS1");
    } catch (const std::runtime_error&) {
      typed = false;
    }
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
        std::chrono::milliseconds(paceMs), killAt - std::chrono::steady_clock::now()));
  }
  child.Signal(SIGKILL);
  return child.WaitExit(5000) && child.KilledBy(SIGKILL) && typed && started;
}

TEST(SettingsFile, SurvivesAHundredKillsDuringRewrites) {
  if (std::getenv("TOVI_FAULT_ALONE") == nullptr) {
    GTEST_SKIP() << "uses port 8027: runs as the ctest entry fault_settings_tests";
  }
  const std::string original = testing::BuiltProgram();
  testing::TempDir dir;
  testing::TempDir runtime;
  const std::string program = dir.Path("remote-toviplayer");
  std::filesystem::copy_file(original, program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  const std::string settings = dir.Path("setstovi.cfg");
  const std::string folder = "/media/films";
  std::ofstream(settings, std::ios::binary) << "[Path]\r\n" << folder << "\r\n[LFRS]\r\nfalse\r\n";

  std::mt19937 random(20261207);
  // Each switch-off waits a quarter second, so rewrites come some 250 ms apart; kills up to
  // 700 ms after the menu shows land among several of them.
  std::uniform_int_distribution<int> killAfter(30, 700);
  int seenTrue = 0, seenFalse = 0;
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_TRUE(RunAndKill(program, runtime.Native(), 60, killAfter(random)));
    const std::string text = fs::ReadWholeFile(settings);
    const std::string state = SwitchState(text, folder);
    ASSERT_NE(state, "?") << "settings file after the kill:\n" << text;
    (state == "true" ? seenTrue : seenFalse)++;
    // No temporary file of a replacement may pile up beside it either.
    int others = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Folder())) {
      const std::string name = entry.path().filename().string();
      if (name != "setstovi.cfg" && name != "remote-toviplayer") ++others;
    }
    EXPECT_LE(others, 1) << "left-over files pile up";
  }
  // Both states were seen, so the kills did land among rewrites.
  EXPECT_GT(seenTrue, 0);
  EXPECT_GT(seenFalse, 0);
}

// The disk fills up (here: a file-size limit below the new settings' size, in a child process)
// after the temporary file exists: the write fails as "Disk full", the old file stays whole and
// nothing is left beside it.
TEST(SettingsRewrite, AFullDiskLeavesTheOldFileWhole) {
  testing::TempDir dir;
  const std::string settings = dir.Path("setstovi.cfg");
  const std::string old = "[Path]\r\n/media/films\r\n[LFRS]\r\nfalse\r\n";
  std::ofstream(settings, std::ios::binary) << old;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = 16;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    try {
      fs::WriteFileAtomically(settings,
                              "[Path]\r\n/media/" + std::string(200, 'f') + "\r\n[LFRS]\r\ntrue\r\n");
      _exit(0);
    } catch (const EInOutError& e) {
      _exit(std::string(e.what()) == "Disk full" ? 3 : 4);
    } catch (...) {
      _exit(5);
    }
  }
  int status = 0;
  if (!testing::WaitUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, 10000)) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the write did not end within 10 s";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 3)
      << "child status " << status << " (exit 3: \"Disk full\", 0: written, 2: no limit set)";
  EXPECT_EQ(fs::ReadWholeFile(settings), old);
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Folder())) {
    names.push_back(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::vector<std::string>{"setstovi.cfg"});
}

}  // namespace
}  // namespace tovi::fault

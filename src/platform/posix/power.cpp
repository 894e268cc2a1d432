#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/posix/sleep_inhibitor.h"
#include "platform/posix/spawn_quiet.h"


namespace tovi::power {

namespace {

constexpr const char* kInhibitTool = "systemd-inhibit";
constexpr const char* kLogindSeats = "/run/systemd/seats";  // present while logind runs

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  const std::string folders = path;
  for (std::size_t start = 0; start <= folders.size();) {
    std::size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    if (access((folders.substr(start, end - start) + "/" + name).c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

class CommandBlocker : public SleepBlocker {
 public:
  explicit CommandBlocker(std::vector<std::string> argv) : argv_(std::move(argv)) {}
  ~CommandBlocker() override { Release(); }

  void Hold() override {
    if (pid_ > 0 || argv_.empty()) return;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    // A group of its own: the terminal's Ctrl-C reaches the program, which then releases it.
    const pid_t pid = posix::SpawnQuiet(argv_, fds[0], true);
    close(fds[0]);
    if (pid < 0) {
      close(fds[1]);
      return;
    }
    pid_ = pid;
    input_ = fds[1];
  }

  void Release() override {
    if (pid_ <= 0) return;
    close(input_);
    input_ = -1;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kInhibitorExitWaitMs);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }

 private:
  std::vector<std::string> argv_;
  pid_t pid_ = -1;
  int input_ = -1;  // the child's standard input; closing it ends the hold
};

}  // namespace

std::unique_ptr<SleepBlocker> CreateCommandSleepBlocker(std::vector<std::string> argv) {
  return std::make_unique<CommandBlocker>(std::move(argv));
}

std::vector<std::string> LogindInhibitorCommand() {
  if (access(kLogindSeats, F_OK) != 0 || !OnPath(kInhibitTool)) return {};
  return {kInhibitTool, "--what=sleep", "--mode=block", "--who=Remote Toviplayer",
          "--why=Телевизор воспроизводит файл с этого ПК", "cat"};
}

std::unique_ptr<SleepBlocker> CreateSystemSleepBlocker() {
  return CreateCommandSleepBlocker(LogindInhibitorCommand());
}

}  // namespace tovi::power

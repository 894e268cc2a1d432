// The real program as a child process (Linux build): started from a copy in its own folder so
// its settings file lives there, driven through its terminal front end on stdin, its output
// collected for bounded waits, and stopped by its process id.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tovi::testing {

class ProgramProcess {
 public:
  // Copies the executable into folder and starts it there with args.
  ProgramProcess(const std::string& executable, const std::string& folder,
                 const std::vector<std::string>& args) {
    namespace stdfs = std::filesystem;
    const stdfs::path copy = stdfs::path(folder) / stdfs::path(executable).filename();
    stdfs::copy_file(executable, copy, stdfs::copy_options::overwrite_existing);
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      // A test killed by its time limit must not leave the program serving on its port.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(out[1], 2);
      close(in[1]);
      close(out[0]);
      std::vector<std::string> argv{copy.string()};
      argv.insert(argv.end(), args.begin(), args.end());
      std::vector<char*> raw;
      for (std::string& a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      if (chdir(folder.c_str()) != 0) _exit(126);
      execv(raw[0], raw.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    reader_ = std::thread([this] { ReadOutput(); });
  }
  ~ProgramProcess() {
    Stop();
    if (reader_.joinable()) reader_.join();
    if (stdout_ >= 0) close(stdout_);
  }
  ProgramProcess(const ProgramProcess&) = delete;
  ProgramProcess& operator=(const ProgramProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  void Send(const std::string& line) {
    const std::string text = line + "\n";
    if (stdin_ >= 0 && write(stdin_, text.data(), text.size()) < 0) {}
  }

  std::string Output() {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_;
  }
  std::size_t OutputSize() {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_.size();
  }

  // Waits up to timeoutMs for text to appear in the output after byte offset from.
  bool WaitFor(const std::string& text, int timeoutMs, std::size_t from = 0) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (output_.size() > from && output_.find(text, from) != std::string::npos) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Closes stdin, then ends the process by its id: politely first (SIGTERM is the program's
  // Exit; the end of input alone does not end it), then for sure.
  void Stop() {
    if (pid_ <= 0) return;
    if (stdin_ >= 0) {
      close(stdin_);
      stdin_ = -1;
    }
    if (!exited_) kill(pid_, SIGTERM);
    if (!WaitExit(3000)) {
      kill(pid_, SIGKILL);
      WaitExit(5000);
    }
    pid_ = -1;
  }

  // Closes stdin (the terminal's end of input) and waits for a normal exit.
  bool CloseInputAndWait(int timeoutMs) {
    if (stdin_ >= 0) {
      close(stdin_);
      stdin_ = -1;
    }
    return WaitExit(timeoutMs);
  }

 private:
  bool WaitExit(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_ || r < 0) {
        exited_ = true;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return exited_;
  }

  void ReadOutput() {
    char buffer[4096];
    for (;;) {
      pollfd p{stdout_, POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) {
        if (exited_) break;
        continue;
      }
      const ssize_t n = read(stdout_, buffer, sizeof buffer);
      if (n <= 0) break;
      std::lock_guard<std::mutex> lock(mutex_);
      output_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::atomic<bool> exited_{false};
  std::thread reader_;
  std::mutex mutex_;
  std::string output_;
};

}  // namespace tovi::testing

#include "remote/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace tovi::remote::testing {

namespace {

bool WaitForExit(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

ProgramRun::ProgramRun(const std::filesystem::path& binary, const std::filesystem::path& folder,
                       const std::vector<std::string>& args,
                       const std::vector<std::string>& launcher) {
  std::filesystem::create_directories(folder);
  const std::filesystem::path copy = folder / binary.filename();
  std::filesystem::copy_file(binary, copy, std::filesystem::copy_options::overwrite_existing);

  std::vector<std::string> argvText = launcher;
  argvText.push_back(copy.string());
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argvText) argv.push_back(a.data());
  argv.push_back(nullptr);

  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const std::string cwd = folder.string();
  pid_ = fork();
  if (pid_ == 0) {
    // A test killed by its time limit must not leave the program serving on its port.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(out[1], 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  if (pid_ < 0) throw std::runtime_error("fork failed");
  stdin_ = in[1];
  stdout_ = out[0];
  reader_ = std::thread([this] {
    char buffer[4096];
    for (;;) {  // ends when the child's output closes (it ended or was stopped)
      const ssize_t got = read(stdout_, buffer, sizeof buffer);
      if (got <= 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      output_.append(buffer, static_cast<std::size_t>(got));
    }
  });
}

ProgramRun::~ProgramRun() {
  if (stdin_ >= 0) close(stdin_);
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (WaitForExit(pid_, 5000)) {
      pid_ = -1;
    } else {
      kill(pid_, SIGKILL);
      WaitForExit(pid_, 5000);
    }
  }
  if (reader_.joinable()) reader_.join();
  if (stdout_ >= 0) close(stdout_);
}

void ProgramRun::WriteLine(const std::string& line) {
  const std::string bytes = line + "\n";
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(stdin_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("the program no longer reads its input");
    done += static_cast<std::size_t>(n);
  }
}

std::string ProgramRun::Output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

std::size_t ProgramRun::WaitForOutput(const std::string& text, std::size_t from,
                                      int timeoutMs) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const std::size_t at = from <= output_.size() ? output_.find(text, from) : std::string::npos;
      if (at != std::string::npos) return at;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::string::npos;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

bool ProgramRun::Running() {
  if (pid_ <= 0) return false;
  if (waitpid(pid_, nullptr, WNOHANG) == 0) return true;
  pid_ = -1;  // reaped: never signal a number the system may hand out again
  return false;
}

}  // namespace tovi::remote::testing

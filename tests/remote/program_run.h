// The real program as a child process for end-to-end tests: its binary copied into a private
// folder (so its settings file is private too), driven through stdin, its output collected.
// Stopped by its process id in the destructor (SIGTERM, then SIGKILL). Linux only.
#pragma once
#include <sys/types.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tovi::remote::testing {

class ProgramRun {
 public:
  // folder receives a copy of binary; the program is started there with args, through
  // launcher when one is given (a command line that ends by running the words after it).
  ProgramRun(const std::filesystem::path& binary, const std::filesystem::path& folder,
             const std::vector<std::string>& args,
             const std::vector<std::string>& launcher = {});
  ~ProgramRun();
  ProgramRun(const ProgramRun&) = delete;
  ProgramRun& operator=(const ProgramRun&) = delete;

  void WriteLine(const std::string& line);
  std::string Output() const;  // stdout and stderr so far
  // Waits (bounded) until the output after offset `from` holds text; returns its position or
  // npos.
  std::size_t WaitForOutput(const std::string& text, std::size_t from, int timeoutMs) const;
  bool Running();

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  mutable std::mutex mutex_;
  std::string output_;
  std::thread reader_;
};

}  // namespace tovi::remote::testing

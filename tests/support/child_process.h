// A process a test starts (Linux build): the real program, or a server the tests talk to
// (PHP, nginx). It dies with the test process (a test killed by its time limit leaves nothing
// serving), its output is collected for bounded waits or appended to a file, and it is stopped
// by its process id: SIGTERM at once (the program's Exit), SIGKILL when that is not enough.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tovi::testing {

struct ChildOptions {
  std::string folder;                    // working folder; "" keeps the test's
  std::vector<std::string> environment;  // "NAME=value", added to the test's own
  std::string outputFile;                // "" collects stdout and stderr for Output()
};

class ChildProcess {
 public:
  // argv[0] is looked up on PATH when it holds no "/". Throws std::runtime_error when it
  // cannot be started.
  explicit ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options = {});
  ~ChildProcess();  // Stop()
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return pid_; }
  // Throws std::runtime_error when the child no longer reads its input.
  void WriteLine(const std::string& line);
  void CloseInput();  // the end of input

  std::string Output() const;  // stdout and stderr so far
  std::size_t OutputSize() const;
  // Waits (bounded) until the output after offset from holds text; its position, or npos.
  std::size_t WaitForOutput(const std::string& text, std::size_t from, int timeoutMs) const;

  bool Running();
  // True once the child has ended (and been reaped) within timeoutMs.
  bool WaitExit(int timeoutMs);
  bool KilledBy(int signal) const;  // after WaitExit
  int ExitCode() const;             // after WaitExit; -1 when it did not exit by itself
  void Signal(int signal);
  void Stop();

 private:
  void ReadOutput();

  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  int stdin_ = -1;
  int stdout_ = -1;
  mutable std::mutex mutex_;
  std::string output_;
  std::thread reader_;
};

// The real program started from a copy in folder, so its settings file, and its one-copy lock
// (the folder is its runtime folder), are private to the
// test; through launcher when one is given (a command line that ends by running the words
// after it).
std::unique_ptr<ChildProcess> StartProgram(const std::string& binary, const std::string& folder,
                                           const std::vector<std::string>& args,
                                           const std::vector<std::string>& launcher = {});
// The program as this build made it.
std::string BuiltProgram();

// A server started by command(port) for a free loopback port, once it accepts connections
// there; a few ports are tried, since a port found free may be taken before the server binds
// it. Its output goes to outputFile. Throws std::runtime_error when it does not start.
std::unique_ptr<ChildProcess> StartListening(
    const std::function<std::vector<std::string>(std::uint16_t port)>& command,
    const std::string& outputFile, std::uint16_t* port, const std::vector<std::string>& environment = {});

// nginx in the foreground as one process on 127.0.0.1 at a free port (*port), serving the
// lines of its server block (root, locations); its configuration, logs and temporary folders
// live in the folder prefix.
std::unique_ptr<ChildProcess> StartNginx(const std::string& prefix, const std::string& serverLines,
                                         std::uint16_t* port);

// A tool scripts/setup.sh installs, at the first of these paths where it is; throws a
// std::runtime_error that says so when it is at none.
std::string Tool(const std::vector<std::string>& candidates);

}  // namespace tovi::testing

#include "support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/files.h"
#include "platform/socket.h"
#include "support/loopback.h"
#include "support/wait.h"

extern char** environ;

namespace tovi::testing {
namespace {

// How long a stopped child may take to end on SIGTERM before it is killed.
constexpr int kStopMs = 5000;

std::vector<char*> Pointers(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& w : words) pointers.push_back(w.data());
  pointers.push_back(nullptr);
  return pointers;
}

// In the child, between fork and exec: only calls that are safe there.
[[noreturn]] void BecomeChild(const int in[2], const int out[2], int outputFile, const char* folder,
                              char* const* argv, char* const* environment) {
  prctl(PR_SET_PDEATHSIG, SIGKILL);  // dies with the test, whatever ends it
  dup2(in[0], 0);
  const int output = outputFile >= 0 ? outputFile : out[1];
  dup2(output, 1);
  dup2(output, 2);
  if (*folder != '\0' && chdir(folder) != 0) _exit(126);
  execvpe(argv[0], argv, environment);
  _exit(127);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildOptions& options) {
  net::Startup();  // a write to a child that has gone fails instead of raising SIGPIPE
  std::vector<std::string> words = argv;
  std::vector<char*> args = Pointers(words);
  std::vector<std::string> environment;
  // A name the options give replaces the test's own value (the first of a name is the one read).
  const auto given = [&](const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    for (const std::string& e : options.environment) {
      if (e.compare(0, name.size(), name) == 0) return true;
    }
    return false;
  };
  for (char** e = environ; *e != nullptr; ++e) {
    if (!given(*e)) environment.emplace_back(*e);
  }
  environment.insert(environment.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> env = Pointers(environment);

  int in[2], out[2];
  // Close-on-exec: a child started meanwhile by another thread must not hold these pipes open.
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const int file = options.outputFile.empty()
                       ? -1
                       : open(options.outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  pid_ = fork();
  if (pid_ == 0) BecomeChild(in, out, file, options.folder.c_str(), args.data(), env.data());
  close(in[0]);
  close(out[1]);
  if (file >= 0) close(file);
  stdin_ = in[1];
  stdout_ = out[0];
  if (pid_ < 0) throw std::runtime_error("fork failed");
  reader_ = std::thread([this] { ReadOutput(); });
}

ChildProcess::~ChildProcess() {
  Stop();
  if (reader_.joinable()) reader_.join();
  close(stdout_);
}

void ChildProcess::ReadOutput() {
  char buffer[4096];
  for (;;) {  // ends when every copy of the pipe's writing end is closed: the child has ended
    const ssize_t got = read(stdout_, buffer, sizeof buffer);
    if (got <= 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    output_.append(buffer, static_cast<std::size_t>(got));
  }
}

void ChildProcess::WriteLine(const std::string& line) {
  const std::string bytes = line + "\n";
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = stdin_ < 0 ? -1 : write(stdin_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("the program no longer reads its input");
    done += static_cast<std::size_t>(n);
  }
}

void ChildProcess::CloseInput() {
  if (stdin_ >= 0) close(stdin_);
  stdin_ = -1;
}

std::string ChildProcess::Output() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_;
}

std::size_t ChildProcess::OutputSize() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return output_.size();
}

std::size_t ChildProcess::WaitForOutput(const std::string& text, std::size_t from, int timeoutMs) const {
  std::size_t at = std::string::npos;
  WaitUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        at = from <= output_.size() ? output_.find(text, from) : std::string::npos;
        return at != std::string::npos;
      },
      timeoutMs);
  return at;
}

bool ChildProcess::Running() {
  if (!reaped_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) reaped_ = true;
  return pid_ > 0 && !reaped_;
}

bool ChildProcess::WaitExit(int timeoutMs) {
  return WaitUntil([this] { return !Running(); }, timeoutMs);
}

int ChildProcess::ExitCode() const {
  return reaped_ && WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

bool ChildProcess::KilledBy(int signal) const {
  return reaped_ && WIFSIGNALED(status_) && WTERMSIG(status_) == signal;
}

void ChildProcess::Signal(int signal) {
  // Once reaped, the number may be another process's: never signal it again.
  if (Running()) kill(pid_, signal);
}

void ChildProcess::Stop() {
  CloseInput();
  Signal(SIGTERM);
  if (!WaitExit(kStopMs)) {
    Signal(SIGKILL);
    WaitExit(kStopMs);
  }
}

std::unique_ptr<ChildProcess> StartProgram(const std::string& binary, const std::string& folder,
                                           const std::vector<std::string>& args,
                                           const std::vector<std::string>& launcher) {
  namespace stdfs = std::filesystem;
  stdfs::create_directories(folder);
  const stdfs::path copy = stdfs::path(folder) / stdfs::path(binary).filename();
  stdfs::copy_file(binary, copy, stdfs::copy_options::overwrite_existing);
  std::vector<std::string> argv = launcher;
  argv.push_back(copy.string());
  argv.insert(argv.end(), args.begin(), args.end());
  ChildOptions options;
  options.folder = folder;
  // The program keeps one copy per session by a lock in the runtime folder: the folder of the
  // copy makes each started program a session of its own, so tests may run side by side.
  options.environment = {"XDG_RUNTIME_DIR=" + stdfs::absolute(folder).string()};
  return std::make_unique<ChildProcess>(argv, options);
}

std::string BuiltProgram() { return TOVI_PROGRAM_PATH; }

std::unique_ptr<ChildProcess> StartListening(
    const std::function<std::vector<std::string>(std::uint16_t port)>& command,
    const std::string& outputFile, std::uint16_t* port, const std::vector<std::string>& environment) {
  ChildOptions options;
  options.outputFile = outputFile;
  options.environment = environment;
  std::string name;
  for (int attempt = 0; attempt < 5; ++attempt) {
    *port = FreePort();
    const std::vector<std::string> argv = command(*port);
    name = argv.front();
    auto child = std::make_unique<ChildProcess>(argv, options);
    // Bounded by the child: it ends when the port was taken.
    if (WaitUntil([&] { return Accepts(*port) || !child->Running(); }, 10000) && child->Running()) {
      return child;
    }
  }
  std::string output;
  try {
    output = fs::ReadWholeFile(outputFile);
  } catch (const std::exception&) {
  }
  throw std::runtime_error(name + " did not start: " + output);
}

std::unique_ptr<ChildProcess> StartNginx(const std::string& prefix, const std::string& serverLines,
                                         std::uint16_t* port) {
  const std::string p = prefix + "/";
  const std::string nginx = Tool({"/usr/sbin/nginx", "/usr/local/sbin/nginx"});
  return StartListening(
      [&](std::uint16_t free) {
        std::ofstream(p + "nginx.conf", std::ios::binary)
            << "daemon off;\nmaster_process off;\npid " << p << "nginx.pid;\nerror_log " << p
            << "error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n"
            << "  default_type application/octet-stream;\n"
            << "  client_body_temp_path " << p << "body;\n  proxy_temp_path " << p << "proxy;\n"
            << "  fastcgi_temp_path " << p << "fastcgi;\n  uwsgi_temp_path " << p << "uwsgi;\n"
            << "  scgi_temp_path " << p << "scgi;\n  server {\n    listen 127.0.0.1:" << free
            << ";\n" << serverLines << "  }\n}\n";
        return std::vector<std::string>{nginx, "-p", p, "-e", p + "error.log", "-c", p + "nginx.conf"};
      },
      p + "nginx.out", port);
}

std::string Tool(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  throw std::runtime_error(candidates.front() + " is missing: run scripts/setup.sh test");
}

}  // namespace tovi::testing

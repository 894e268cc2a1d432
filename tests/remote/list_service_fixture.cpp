#include "remote/list_service_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/socket.h"

namespace tovi::remote::testing {

namespace {

namespace stdfs = std::filesystem;

std::string ReadFile(const stdfs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void WriteFile(const stdfs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string FindPhp() {
  for (const char* candidate : {"/usr/bin/php", "/usr/local/bin/php"}) {
    if (access(candidate, X_OK) == 0) return candidate;
  }
  return "";
}

// The fixture needs PHP; a machine without it gets it from the distribution.
std::string PhpOrInstall() {
  std::string php = FindPhp();
  if (php.empty() && std::system("apt-get install -y php-cli >/dev/null 2>&1") == 0) php = FindPhp();
  if (php.empty()) throw std::runtime_error("php-cli is missing and could not be installed");
  return php;
}

int FreeLoopbackPort() {
  net::Startup();
  const net::SocketHandle s = net::OpenStream();
  net::Endpoint local;
  local.address[0] = 127;
  local.address[3] = 1;
  int port = 0;
  if (net::Bind(s, local) == 0 && net::LocalEndpoint(s, &local) == 0) port = local.port;
  net::Close(s);
  return port;
}

bool Accepts(int port) {
  const net::SocketHandle s = net::OpenStream();
  net::Endpoint remote;
  remote.address[0] = 127;
  remote.address[3] = 1;
  remote.port = static_cast<std::uint16_t>(port);
  const bool ok = net::Connect(s, remote, 500) == 0;
  net::Close(s);
  return ok;
}

bool WaitForExit(pid_t pid, int timeoutMs) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace

ListServiceFixture::ListServiceFixture() {
  const std::string php = PhpOrInstall();
  root_ = stdfs::temp_directory_path() /
          ("tovi-list-service-" + std::to_string(getpid()) + "-" + std::to_string(std::random_device{}()));
  stdfs::create_directories(root_ / "remote");
  stdfs::create_directories(root_ / "log");
  const char* source = std::getenv("TOVI_SOURCE_DIR");
  const stdfs::path script = stdfs::path(source ? source : ".") / "tests/remote/fixture/index.php";
  if (!stdfs::exists(script)) throw std::runtime_error("fixture script not found: " + script.string());
  stdfs::copy_file(script, root_ / "remote/index.php");

  // A port found free may be taken before php binds it; try a few.
  for (int attempt = 0; attempt < 5 && pid_ < 0; ++attempt) {
    port_ = FreeLoopbackPort();
    const std::string address = "127.0.0.1:" + std::to_string(port_);
    const std::string docroot = root_.string();
    const std::string output = (root_ / "php.out").string();
    const pid_t pid = fork();
    if (pid == 0) {
      const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      execl(php.c_str(), "php", "-S", address.c_str(), "-t", docroot.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    if (pid < 0) throw std::runtime_error("fork failed");
    for (int waited = 0; waited < 5000; waited += 50) {
      if (Accepts(port_)) {
        pid_ = pid;
        break;
      }
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;  // it died: port taken
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (pid_ < 0) {
      kill(pid, SIGKILL);
      WaitForExit(pid, 2000);
    }
  }
  if (pid_ < 0) throw std::runtime_error("php -S did not start: " + ReadFile(root_ / "php.out"));
}

ListServiceFixture::~ListServiceFixture() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    if (!WaitForExit(pid_, 3000)) {
      kill(pid_, SIGKILL);
      WaitForExit(pid_, 3000);
    }
  }
  std::error_code ignored;
  stdfs::remove_all(root_, ignored);
}

void ListServiceFixture::SetAnswer(const std::string& utf8Body) const {
  WriteFile(root_ / "answer.bin", utf8Body);
}

void ListServiceFixture::SetStatus(const std::string& statusText) const {
  if (statusText.empty()) {
    std::error_code ignored;
    stdfs::remove(root_ / "status.txt", ignored);
  } else {
    WriteFile(root_ / "status.txt", statusText);
  }
}

std::vector<RecordedRequest> ListServiceFixture::Requests() const {
  std::vector<RecordedRequest> requests;
  for (int n = 1; n < 10000; ++n) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", n);
    const stdfs::path base = root_ / "log" / name;
    if (!stdfs::exists(base.string() + ".done")) break;
    RecordedRequest r;
    r.requestLine = ReadFile(base.string() + ".request");
    std::istringstream headers(ReadFile(base.string() + ".headers"));
    for (std::string line; std::getline(headers, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      r.headerLines.push_back(line);
    }
    std::istringstream query(ReadFile(base.string() + ".query"));
    for (std::string line; std::getline(query, line);) {
      const std::size_t eq = line.find('=');
      r.query[line.substr(0, eq)] = eq == std::string::npos ? "" : line.substr(eq + 1);
    }
    r.body = ReadFile(base.string() + ".body");
    r.hasText = stdfs::exists(base.string() + ".text");
    if (r.hasText) r.text = ReadFile(base.string() + ".text");
    requests.push_back(std::move(r));
  }
  return requests;
}

bool ListServiceFixture::WaitForRequests(std::size_t count, int timeoutMs) const {
  for (int waited = 0; waited <= timeoutMs; waited += 50) {
    if (Requests().size() >= count) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace tovi::remote::testing

#include "remote/list_service_fixture.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "platform/socket.h"

extern char** environ;

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

// A tool scripts/setup.sh installs, at the first of these paths where it is.
std::string Tool(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  throw std::runtime_error(candidates.front() + " is missing: run scripts/setup.sh test");
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

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  if (!WaitForExit(pid, 3000)) {
    kill(pid, SIGKILL);
    WaitForExit(pid, 3000);
  }
}

// Starts the command made for a free loopback port until it listens there; a port found free
// may be taken before the program binds it, so a few ports are tried. Output goes to the file
// output; extraEnvironment ("NAME=value") is added to this process's own. Returns the process
// id; *port receives the port.
pid_t StartListening(const std::function<std::vector<std::string>(int port)>& command,
                     const std::string& output, int* port,
                     std::vector<std::string> extraEnvironment = {}) {
  std::vector<char*> environment;
  for (char** e = environ; *e != nullptr; ++e) environment.push_back(*e);
  for (std::string& e : extraEnvironment) environment.push_back(e.data());
  environment.push_back(nullptr);
  std::string name;
  for (int attempt = 0; attempt < 5; ++attempt) {
    *port = FreeLoopbackPort();
    std::vector<std::string> args = command(*port);
    name = args.front();
    std::vector<char*> raw;
    for (std::string& a : args) raw.push_back(a.data());
    raw.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test killed by its time limit takes it along
      const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      execve(raw[0], raw.data(), environment.data());
      _exit(127);
    }
    if (pid < 0) throw std::runtime_error("fork failed");
    for (int waited = 0; waited < 5000; waited += 50) {
      if (Accepts(*port)) return pid;
      if (waitpid(pid, nullptr, WNOHANG) == pid) break;  // it died: port taken
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Stop(pid);
  }
  throw std::runtime_error(name + " did not start: " + ReadFile(output));
}

// nginx in the foreground as one process, handing every request to PHP over FastCGI as a
// production front does (PHP's own server would reject the raw bytes nginx passes on).
std::string NginxConfig(const stdfs::path& root, int port, int phpPort) {
  const std::string p = (root / "nginx").string();
  std::string params;
  for (const char* param : {"SCRIPT_NAME $fastcgi_script_name", "REQUEST_METHOD $request_method",
                            "REQUEST_URI $request_uri", "QUERY_STRING $query_string",
                            "CONTENT_TYPE $content_type", "CONTENT_LENGTH $content_length",
                            "SERVER_PROTOCOL $server_protocol", "REDIRECT_STATUS 200"}) {
    params += std::string("      fastcgi_param ") + param + ";\n";
  }
  return "daemon off;\nmaster_process off;\npid " + p + "/nginx.pid;\nerror_log " + p +
         "/error.log;\nevents { worker_connections 64; }\nhttp {\n  access_log off;\n" +
         "  client_body_temp_path " + p + "/body;\n  proxy_temp_path " + p + "/proxy;\n" +
         "  fastcgi_temp_path " + p + "/fastcgi;\n  uwsgi_temp_path " + p + "/uwsgi;\n" +
         "  scgi_temp_path " + p + "/scgi;\n  server {\n    listen 127.0.0.1:" +
         std::to_string(port) + ";\n    location / {\n      fastcgi_pass 127.0.0.1:" +
         std::to_string(phpPort) + ";\n      fastcgi_param SCRIPT_FILENAME " + root.string() +
         "$fastcgi_script_name;\n" + params + "    }\n  }\n}\n";
}

}  // namespace

ListServiceFixture::ListServiceFixture(Front front) {
  root_ = stdfs::temp_directory_path() /
          ("tovi-list-service-" + std::to_string(getpid()) + "-" + std::to_string(std::random_device{}()));
  stdfs::create_directories(root_ / "remote");
  stdfs::create_directories(root_ / "log");
  const char* source = std::getenv("TOVI_SOURCE_DIR");
  const stdfs::path script = stdfs::path(source ? source : ".") / "tests/remote/fixture/index.php";
  if (!stdfs::exists(script)) throw std::runtime_error("fixture script not found: " + script.string());
  stdfs::copy_file(script, root_ / "remote/index.php");

  if (front == Front::Php) {
    const std::string php = Tool({"/usr/bin/php", "/usr/local/bin/php"});
    phpPid_ = StartListening(
        [&](int port) {
          return std::vector<std::string>{php, "-S", "127.0.0.1:" + std::to_string(port), "-t",
                                          root_.string()};
        },
        (root_ / "php.out").string(), &frontPort_);
    return;
  }
  const std::string phpCgi = Tool({"/usr/bin/php-cgi", "/usr/local/bin/php-cgi"});
  const std::string nginx = Tool({"/usr/sbin/nginx", "/usr/local/sbin/nginx"});
  int phpPort = 0;
  phpPid_ = StartListening(
      [&](int port) {
        return std::vector<std::string>{phpCgi, "-b", "127.0.0.1:" + std::to_string(port)};
      },
      (root_ / "php.out").string(), &phpPort,
      {"PHP_FCGI_CHILDREN=0"});  // one process serving every request: no children to outlive it
  const stdfs::path prefix = root_ / "nginx";
  stdfs::create_directories(prefix);
  try {
    nginxPid_ = StartListening(
        [&](int port) {
          WriteFile(prefix / "nginx.conf", NginxConfig(root_, port, phpPort));
          return std::vector<std::string>{nginx, "-p", prefix.string() + "/", "-e",
                                          (prefix / "error.log").string(), "-c",
                                          (prefix / "nginx.conf").string()};
        },
        (prefix / "nginx.out").string(), &frontPort_);
  } catch (...) {
    Stop(phpPid_);  // no destructor runs for a constructor that throws
    throw;
  }
}

ListServiceFixture::~ListServiceFixture() {
  Stop(nginxPid_);
  Stop(phpPid_);
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

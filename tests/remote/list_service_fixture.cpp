#include "remote/list_service_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"
#include "support/wait.h"

namespace tovi::testing {

namespace {

namespace stdfs = std::filesystem;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// A server block for nginx that hands every request to PHP over FastCGI, as a production front
// does (PHP's own server would reject the raw bytes nginx passes on).
std::string FastCgiFront(const std::string& root, std::uint16_t phpPort) {
  std::string params;
  for (const char* param : {"SCRIPT_NAME $fastcgi_script_name", "REQUEST_METHOD $request_method",
                            "REQUEST_URI $request_uri", "QUERY_STRING $query_string",
                            "CONTENT_TYPE $content_type", "CONTENT_LENGTH $content_length",
                            "SERVER_PROTOCOL $server_protocol", "REDIRECT_STATUS 200"}) {
    params += std::string("      fastcgi_param ") + param + ";\n";
  }
  return "    location / {\n      fastcgi_pass 127.0.0.1:" + std::to_string(phpPort) +
         ";\n      fastcgi_param SCRIPT_FILENAME " + root + "$fastcgi_script_name;\n" + params +
         "    }\n";
}

}  // namespace

ListServiceFixture::ListServiceFixture(Front front) {
  root_.MakeFolder("remote");
  root_.MakeFolder("log");
  const char* source = std::getenv("TOVI_SOURCE_DIR");
  const stdfs::path script = stdfs::path(source ? source : ".") / "tests/remote/fixture/index.php";
  if (!stdfs::exists(script)) throw std::runtime_error("fixture script not found: " + script.string());
  stdfs::copy_file(script, root_.Path("remote/index.php"));

  if (front == Front::Php) {
    const std::string php = Tool({"/usr/bin/php", "/usr/local/bin/php"});
    php_ = StartListening(
        [&](std::uint16_t port) {
          return std::vector<std::string>{php, "-S", "127.0.0.1:" + std::to_string(port), "-t",
                                          root_.Native()};
        },
        root_.Path("php.out"), &frontPort_);
    return;
  }
  const std::string phpCgi = Tool({"/usr/bin/php-cgi", "/usr/local/bin/php-cgi"});
  std::uint16_t phpPort = 0;
  php_ = StartListening(
      [&](std::uint16_t port) {
        return std::vector<std::string>{phpCgi, "-b", "127.0.0.1:" + std::to_string(port)};
      },
      root_.Path("php.out"), &phpPort,
      {"PHP_FCGI_CHILDREN=0"});  // one process serving every request: no children to outlive it
  nginx_ = StartNginx(root_.MakeFolder("nginx"), FastCgiFront(root_.Native(), phpPort),
                                     &frontPort_);
}

void ListServiceFixture::SetAnswer(const std::string& utf8Body) const {
  WriteFile(root_.Path("answer.bin"), utf8Body);
}

void ListServiceFixture::SetStatus(const std::string& statusText) const {
  if (statusText.empty()) {
    std::error_code ignored;
    stdfs::remove(root_.Path("status.txt"), ignored);
  } else {
    WriteFile(root_.Path("status.txt"), statusText);
  }
}

std::vector<RecordedRequest> ListServiceFixture::Requests() const {
  std::vector<RecordedRequest> requests;
  for (int n = 1; n < 10000; ++n) {
    char name[8];
    std::snprintf(name, sizeof name, "%04d", n);
    const std::string base = root_.Path("log/") + name;
    if (!stdfs::exists(base + ".done")) break;
    RecordedRequest r;
    r.requestLine = fs::ReadWholeFile(base + ".request");
    std::istringstream headers(fs::ReadWholeFile(base + ".headers"));
    for (std::string line; std::getline(headers, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      r.headerLines.push_back(line);
    }
    std::istringstream query(fs::ReadWholeFile(base + ".query"));
    for (std::string line; std::getline(query, line);) {
      const std::size_t eq = line.find('=');
      r.query[line.substr(0, eq)] = eq == std::string::npos ? "" : line.substr(eq + 1);
    }
    r.body = fs::ReadWholeFile(base + ".body");
    r.hasText = stdfs::exists(base + ".text");
    if (r.hasText) r.text = fs::ReadWholeFile(base + ".text");
    requests.push_back(std::move(r));
  }
  return requests;
}

bool ListServiceFixture::WaitForRequests(std::size_t count, int timeoutMs) const {
  return WaitUntil([&] { return Requests().size() >= count; }, timeoutMs);
}

}  // namespace tovi::testing

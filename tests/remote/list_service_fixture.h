// The fake list service for end-to-end tests: fixture/index.php under `php -S` on a free
// loopback port, with a private document root. Started in the constructor, stopped by its process
// id in the destructor. Linux only (it spawns the php binary, installing php-cli when missing).
#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tovi::remote::testing {

// One request as PHP saw it.
struct RecordedRequest {
  std::string requestLine;                    // "GET /remote/index.php?... HTTP/1.1"
  std::vector<std::string> headerLines;       // "Name: value", in arrival order
  std::map<std::string, std::string> query;   // PHP's parsed query
  std::string body;                           // raw body (empty for multipart bodies)
  bool hasText = false;
  std::string text;                           // PHP's parsed multipart field "text"
};

class ListServiceFixture {
 public:
  ListServiceFixture();   // throws std::runtime_error when php cannot be started
  ~ListServiceFixture();  // stops php by its process id
  ListServiceFixture(const ListServiceFixture&) = delete;
  ListServiceFixture& operator=(const ListServiceFixture&) = delete;

  int Port() const { return port_; }
  std::string HostAndPort() const { return "127.0.0.1:" + std::to_string(port_); }

  // What the service answers from now on.
  void SetAnswer(const std::string& utf8Body) const;
  void SetStatus(const std::string& statusText) const;  // "" answers 200 again

  // Requests recorded so far, completed ones only, in arrival order.
  std::vector<RecordedRequest> Requests() const;
  // Waits (bounded) until at least count requests are recorded.
  bool WaitForRequests(std::size_t count, int timeoutMs) const;

 private:
  std::filesystem::path root_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace tovi::remote::testing

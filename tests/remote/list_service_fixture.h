// The fake list service for end-to-end tests: fixture/index.php with a private document root,
// served on a free loopback port by PHP's own server, or by nginx as a front handing requests to
// PHP over FastCGI (nginx's configuration and prefix in the same temporary folder). Started in
// the constructor, stopped in the destructor. Linux only; php-cli, php-cgi and nginx-light come
// from scripts/setup.sh.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace tovi::testing {

// One request as PHP saw it.
struct RecordedRequest {
  std::string requestLine;                    // "GET /remote/index.php?... HTTP/1.1"
  std::vector<std::string> headerLines;       // "Name: value", in arrival order
  std::map<std::string, std::string> query;   // PHP's parsed query
  std::string body;                           // raw body (empty for multipart bodies)
  bool hasText = false;
  std::string text;                           // PHP's parsed multipart field "text"
};

// What the program talks to: PHP's own server, which refuses any raw byte above 0x7F on the
// request line, or nginx, which takes those and refuses spaces and control bytes instead.
enum class Front { Php, Nginx };

class ListServiceFixture {
 public:
  // Throws std::runtime_error when php (or nginx) cannot be started.
  explicit ListServiceFixture(Front front = Front::Php);
  ListServiceFixture(const ListServiceFixture&) = delete;
  ListServiceFixture& operator=(const ListServiceFixture&) = delete;

  // Where the program sends its requests (the front's port).
  std::uint16_t Port() const { return frontPort_; }
  std::string HostAndPort() const { return "127.0.0.1:" + std::to_string(frontPort_); }

  // What the service answers from now on.
  void SetAnswer(const std::string& utf8Body) const;
  void SetStatus(const std::string& statusText) const;  // "" answers 200 again

  // Requests recorded so far, completed ones only, in arrival order.
  std::vector<RecordedRequest> Requests() const;
  // Waits (bounded) until at least count requests are recorded.
  bool WaitForRequests(std::size_t count, int timeoutMs) const;

 private:
  TempDir root_;
  std::uint16_t frontPort_ = 0;
  std::unique_ptr<ChildProcess> php_;    // declared before nginx_: stopped after it
  std::unique_ptr<ChildProcess> nginx_;
};

}  // namespace tovi::testing

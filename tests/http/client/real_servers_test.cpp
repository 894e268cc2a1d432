// The client against real servers from the distribution: nginx for ordinary GET and POST, and
// PHP's built-in server, whose form parser reads our multipart bodies back. Linux only; each
// server runs on a free loopback port and is stopped by its process id.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "http/client/http_client.h"
#include "platform/socket.h"
#include "scripted_server.h"
#include "support/temp_dir.h"

extern char** environ;

namespace tovi::http {
namespace {

constexpr char kNginx[] = "/usr/sbin/nginx";
constexpr char kPhp[] = "/usr/bin/php";

bool Listening(int port) {
  net::SocketHandle s = net::OpenStream();
  net::Endpoint e;
  e.address[0] = 127;
  e.address[3] = 1;
  e.port = static_cast<std::uint16_t>(port);
  const bool ok = net::Connect(s, e, 200) == 0;
  net::Close(s);
  return ok;
}

// A server process of the test, ended by its id when the object goes.
class ChildServer {
 public:
  // The server's own output goes to logFile.
  ChildServer(const std::vector<std::string>& argv, int port, const std::string& logFile) {
    if (!std::filesystem::exists(argv[0]))
      throw std::runtime_error(argv[0] + " is missing: install nginx-light and php-cli");
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    const int failed = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
    for (int i = 0; i < 200 && !Listening(port); ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        throw std::runtime_error(argv[0] + " ended at start");
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!Listening(port)) throw std::runtime_error(argv[0] + " does not listen");
  }
  ~ChildServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  ChildServer(const ChildServer&) = delete;
  ChildServer& operator=(const ChildServer&) = delete;

 private:
  pid_t pid_ = -1;
};

class Nginx {
 public:
  Nginx() : port_(testing::UnusedPort()) {
    const std::string d = dir_.Folder();
    std::filesystem::create_directory(d + "www");
    dir_.Write("nginx.conf",
               "daemon off; master_process off; worker_processes 1;\n"
               "error_log " + d + "error.log; pid " + d + "nginx.pid;\n"
               "events { worker_connections 64; }\n"
               "http {\n"
               "  access_log off;\n"
               "  client_body_temp_path " + d + "body; proxy_temp_path " + d + "proxy;\n"
               "  fastcgi_temp_path " + d + "fastcgi; uwsgi_temp_path " + d + "uwsgi;\n"
               "  scgi_temp_path " + d + "scgi;\n"
               "  default_type application/octet-stream;\n"
               "  server {\n"
               "    listen 127.0.0.1:" + std::to_string(port_) + ";\n"
               "    root " + d + "www;\n"
               "    location = /post { return 200 \"posted\\n\"; }\n"
               "    location = /moved { return 302 /bytes.bin; }\n"
               "  }\n"
               "}\n");
    server_ = std::make_unique<ChildServer>(
        std::vector<std::string>{kNginx, "-p", d, "-e", d + "error.log", "-c", d + "nginx.conf"},
        port_, d + "output.log");
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void Put(const std::string& name, const std::string& bytes) { dir_.Write("www/" + name, bytes); }

 private:
  testing::TempDir dir_;
  int port_;
  std::unique_ptr<ChildServer> server_;
};

TEST(HttpClientRealServer, NginxServesGetAndPost) {
  Nginx nginx;
  std::string bytes;
  for (int i = 0; i < 3 * 1024 * 1024; ++i) bytes += static_cast<char>(i * 7 % 256);
  nginx.Put("bytes.bin", bytes);
  nginx.Put("\xcf\xf0\xe8\xe2\xe5\xf2.txt", "cyrillic name");

  {
    TNetHTTP http;
    EXPECT_TRUE(http.Get(nginx.Url("/bytes.bin")) == bytes) << "body bytes unconverted";
    EXPECT_EQ(http.Response().StatusCode(), 200);
    EXPECT_EQ(http.Response().ContentLength(), static_cast<std::int64_t>(bytes.size()));
  }
  {
    TNetHTTP http;
    EXPECT_EQ(http.Get(nginx.Url("/\xcf\xf0\xe8\xe2\xe5\xf2.txt?x=1#top")), "cyrillic name");
  }
  {
    TNetMultiPartFormDataStream form;
    form.AddTextField("text", "#EXTM3U\r\n");
    TNetHTTP http;
    EXPECT_EQ(http.Post(nginx.Url("/post"), form), "posted\n");
  }
  {
    TNetHTTP http;
    std::string body;
    try {
      http.Get(nginx.Url("/missing.txt"), body);
      ADD_FAILURE() << "404 accepted";
    } catch (const ENetHTTPProtocolException& e) {
      EXPECT_STREQ(e.what(), "HTTP/1.1 404 Not Found");
      EXPECT_EQ(e.ErrorCode(), 404);
      EXPECT_NE(e.ErrorBody().find("404 Not Found"), std::string::npos);
    }
    EXPECT_EQ(body, "");
  }
  {
    TNetHTTP http;
    try {
      http.Get(nginx.Url("/moved"));
      ADD_FAILURE() << "redirect followed by default";
    } catch (const ENetHTTPProtocolException& e) {
      EXPECT_EQ(e.ErrorCode(), 302);
    }
    http.SetHandleRedirects(true);
    EXPECT_TRUE(http.Get(nginx.Url("/moved")) == bytes);
  }
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02x", c);
    out += two;
  }
  return out;
}

TEST(HttpClientRealServer, PhpParsesTheMultipartBodyBack) {
  testing::TempDir dir;
  const int port = testing::UnusedPort();
  const std::string router = dir.Write(
      "router.php",
      "<?php\nheader('Content-Type: text/plain');\n"
      "foreach ($_POST as $k => $v) { echo $k, '=', bin2hex($v), \"\\n\"; }\n"
      "echo 'uri=', bin2hex($_SERVER['REQUEST_URI']), \"\\n\";\n");
  ChildServer php({kPhp, "-n", "-S", "127.0.0.1:" + std::to_string(port), router}, port,
                  dir.Path("php.log"));
  const std::string url = "http://127.0.0.1:" + std::to_string(port);

  struct Case { std::vector<std::pair<std::string, std::string>> fields; };
  const Case cases[] = {
      {{{"text", "#EXTM3U\r\n#EXTINF:-1,Film\r\nhttp://tv/%D0%A4%20a.mp4\r\n"}}},
      {{{"first", "line1\r\nline2\r\n\r\n"},
        {"pct", "100% %41 %%"},
        {"cp", "C:\\\xc2\xe8\xe4\xe5\xee\\\xcf\xf0\xe8\xe2\xe5\xf2"},
        {"last", "abc"}}},
      {{{"empty", ""}, {"text", "x"}}},
  };
  for (const Case& c : cases) {
    TNetMultiPartFormDataStream form;
    std::string expected;
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
      const auto& [name, value] = c.fields[i];
      form.AddTextField(name, value);
      // The last value reaches a receiver with the CR LF before the closing delimiter.
      expected += name + "=" + Hex(i + 1 == c.fields.size() ? value + "\r\n" : value) + "\n";
    }
    TNetHTTP http;
    EXPECT_EQ(http.Post(url + "/remote/index.php?do=uploadfile&fname=C:\\Lists\\a.m3u", form),
              expected + "uri=" + Hex("/remote/index.php?do=uploadfile&fname=C:/Lists/a.m3u") +
                  "\n");
  }
}

}  // namespace
}  // namespace tovi::http

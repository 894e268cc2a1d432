// The client against real servers from the distribution: nginx for ordinary GET and POST, and
// PHP's built-in server, whose form parser reads our multipart bodies back. Linux only; each
// server runs on a free loopback port and is stopped by its process id.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "http/client/http_client.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace tovi::http {
namespace {

using testing::ChildProcess;

// Files from a folder of its own, and two fixed answers.
class Nginx {
 public:
  Nginx() {
    dir_.MakeFolder("www");
    server_ = testing::StartNginx(dir_.Native(),
                                  "    root " + dir_.Path("www") + ";\n"
                                  "    location = /post { return 200 \"posted\\n\"; }\n"
                                  "    location = /moved { return 302 /bytes.bin; }\n",
                                  &port_);
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  void Put(const std::string& name, const std::string& bytes) { dir_.Write("www/" + name, bytes); }

 private:
  testing::TempDir dir_;
  std::uint16_t port_ = 0;
  std::unique_ptr<ChildProcess> server_;
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
  const std::string router = dir.Write(
      "router.php",
      "<?php\nheader('Content-Type: text/plain');\n"
      "foreach ($_POST as $k => $v) { echo $k, '=', bin2hex($v), \"\\n\"; }\n"
      "echo 'uri=', bin2hex($_SERVER['REQUEST_URI']), \"\\n\";\n");
  std::uint16_t port = 0;
  const auto php = testing::StartListening(
      [&](std::uint16_t free) {
        return std::vector<std::string>{testing::Tool({"/usr/bin/php"}), "-n", "-S",
                                        "127.0.0.1:" + std::to_string(free), router};
      },
      dir.Path("php.log"), &port);
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

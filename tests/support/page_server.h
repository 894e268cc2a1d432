// Pages for "/parserlink" to fetch, served by the product's own engine on a free loopback port:
// a fixed page, and pages that fall silent, trickle or never end. For suites that link the
// server library.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "http/server/http_server.h"
#include "server/media_handler.h"

namespace tovi::testing {

class PageServer {
 public:
  static constexpr const char* kPage = "<html><b>first</b> and <b>second</b></html>";

  PageServer() {
    server_ = server::CreateMediaServer("127.0.0.1", 0, [this](http::TNetPeerThread& thread,
                                                       http::TNetHTTPRequestInfo& rq,
                                                       http::TNetHTTPResponseInfo& rs) {
      ++requests_;
      Serve(thread.Connection(), rq.RequestPath(), rs);
    });
    server_->SetActive(true);
    port_ = server_->Bindings()[0].Port();
  }
  ~PageServer() { server_->SetActive(false); }
  std::string Url(const std::string& path, const std::string& host = "127.0.0.1") const {
    return "http://" + host + ":" + std::to_string(port_) + path;
  }
  // Requests for any page so far.
  int Requests() const { return requests_; }
  // Fetches of "/slow" and "/trickle" begun so far.
  int SlowRequests() const { return slowRequests_; }
  // Bytes of "/endless" pages taken by the system so far, all fetches together.
  std::int64_t EndlessBytes() const { return endlessBytes_; }

 private:
  void Serve(http::TNetTCPServerConnection& connection, const std::string& path, http::TNetHTTPResponseInfo& rs) {
    const auto open = [&] { return connection.Connected() && !connection.Aborted(); };
    if (path == "/page") {
      rs.SetBodyText(kPage);
    } else if (path == "/aaa") {  // what the pattern "(aa?)*c" takes too long over
      rs.SetBodyText(std::string(40, 'a').append("dc"));
    } else if (path == "/slow") {  // 10 of 100 bytes, then silence until the reader goes (60 s)
      slowRequests_++;
      rs.SetContentLength(100);
      rs.SendHeaders();
      connection.Write("0123456789");
      for (int i = 0; i < 600 && open(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } else if (path == "/trickle") {  // no length, a byte every 100 ms while read (bounded)
      slowRequests_++;
      rs.SendHeaders();
      for (int i = 0; i < 100 && open(); ++i) {
        connection.Write("t");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    } else if (path == "/endless") {  // no length, bytes until the reader gives up (256 MiB)
      rs.SendHeaders();
      const std::string chunk(65536, 'e');
      for (int i = 0; i < 4096; ++i) {
        connection.Write(chunk);
        endlessBytes_ += static_cast<std::int64_t>(chunk.size());
      }
    } else {
      rs.SetResponseCode(404);
      rs.SetBodyText("no such page");
    }
  }

  std::atomic<int> requests_{0}, slowRequests_{0};
  std::atomic<std::int64_t> endlessBytes_{0};
  std::shared_ptr<http::TNetHTTPServer> server_;
  int port_ = 0;
};

}  // namespace tovi::testing

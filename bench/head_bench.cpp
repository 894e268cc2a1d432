// The processor time a hostile response head costs the client: a head of 3 MB of header
// continuation lines, and one of 200,000 Set-Cookie lines, each fetched over loopback by the
// client engine as "/parserlink" fetches pages, then the same lines given straight to the
// header list and the cookie jar (the layers below the client's head bound).
// Prints one line per measure: processor milliseconds (the whole process's, so the loopback
// server's sending counts too) and how the fetch ended.
// Usage: head_bench [lines-of-cookies]   (default 200000)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "http/client/http_client.h"
#include "platform/socket.h"

namespace {

using tovi::http::TNetCookieManager;
using tovi::http::TNetHeaderList;
using tovi::http::TNetHTTP;
namespace net = tovi::net;

double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// One connection on a free loopback port: reads the request head, sends response, closes.
class OneAnswer {
 public:
  explicit OneAnswer(std::string response) : response_(std::move(response)) {
    net::Startup();
    listener_ = net::OpenStream();
    net::Endpoint local;
    local.address[0] = 127;
    local.address[3] = 1;
    if (listener_ == net::kInvalidSocket || net::Bind(listener_, local) != 0 ||
        net::Listen(listener_, 4) != 0 || net::LocalEndpoint(listener_, &local) != 0) {
      std::fprintf(stderr, "head_bench: no loopback listener\n");
      std::exit(1);
    }
    port_ = local.port;
    thread_ = std::thread([this] { Serve(); });
  }
  ~OneAnswer() {
    thread_.join();
    net::Close(listener_);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/page"; }

 private:
  void Serve() {
    if (net::WaitReadable(listener_, 10000) != 1) return;
    net::Endpoint peer;
    const net::SocketHandle s = net::Accept(listener_, &peer);
    if (s == net::kInvalidSocket) return;
    std::string head;
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos && net::WaitReadable(s, 10000) == 1) {
      const long n = net::Recv(s, chunk, sizeof chunk);
      if (n <= 0) break;
      head.append(chunk, static_cast<std::size_t>(n));
    }
    // Until the client stops taking it: a client that refuses the head closes early.
    for (std::size_t sent = 0; sent < response_.size();) {
      const long n = net::SendWithin(s, response_.data() + sent, response_.size() - sent, 10000);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    net::ShutdownSend(s);
    while (net::WaitReadable(s, 10000) == 1 && net::Recv(s, chunk, sizeof chunk) > 0) {
    }
    net::Close(s);
  }

  std::string response_;
  net::SocketHandle listener_ = net::kInvalidSocket;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// The client's processor time for one fetch of a page whose head holds lines.
void Fetch(const char* what, const std::vector<std::string>& lines) {
  std::string response = "HTTP/1.1 200 OK\r\n";
  for (const std::string& line : lines) response += line + "\r\n";
  response += "Content-Length: 2\r\n\r\nok";
  OneAnswer server(response);
  const double start = CpuMs();
  const auto wallStart = std::chrono::steady_clock::now();
  std::string outcome = "fetched";
  try {
    TNetHTTP client;
    client.SetReadTimeout(30000);
    client.Get(server.Url());
  } catch (const std::exception& e) {
    outcome = e.what();
  }
  const double wallMs = std::chrono::duration<double, std::milli>(
                            std::chrono::steady_clock::now() - wallStart).count();
  std::printf("%-44s client fetch: %9.1f ms processor, %9.1f ms wall (%s)\n", what,
              CpuMs() - start, wallMs, outcome.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t cookies = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;

  // 3 MB of continuation lines under one header that the client looks up.
  std::vector<std::string> folded{"Content-Type: text/html"};
  std::size_t bytes = folded[0].size() + 2;
  while (bytes < 3000000) {
    folded.push_back(" ; part-" + std::to_string(folded.size()) + "=abcdefghijklmnop");
    bytes += folded.back().size() + 2;
  }
  char label[96];
  std::snprintf(label, sizeof label, "head of %zu continuation lines (%.1f MB)",
                folded.size() - 1, bytes / 1e6);
  Fetch(label, folded);
  {
    TNetHeaderList list;
    for (const std::string& line : folded) list.Add(line);
    const double start = CpuMs();
    const std::size_t joined = list.Values("Content-Type").size();
    std::printf("%-44s header list join: %9.1f ms processor (%zu bytes joined)\n", label,
                CpuMs() - start, joined);
  }

  std::vector<std::string> setCookies;
  for (std::size_t i = 0; i < cookies; ++i)
    setCookies.push_back("Set-Cookie: c" + std::to_string(i) + "=v; Path=/");
  std::snprintf(label, sizeof label, "head of %zu Set-Cookie lines", cookies);
  Fetch(label, setCookies);
  {
    TNetHeaderList list;
    for (const std::string& line : setCookies) list.Add(line);
    TNetCookieManager jar;
    const double start = CpuMs();
    for (const std::string& value : list.Extract("Set-Cookie"))
      jar.AddServerCookie(value, "127.0.0.1", "/");
    std::printf("%-44s cookie jar:       %9.1f ms processor (%zu kept)\n", label,
                CpuMs() - start, jar.Count());
  }
  return 0;
}

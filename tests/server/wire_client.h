// A raw HTTP exchange over a loopback socket, for tests that check bytes on the wire.
// Every wait is bounded; a response is read until the server closes the connection.
#pragma once
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/socket.h"

namespace tovi::testing {

struct WireResponse {
  bool connected = false;
  bool closed = false;             // the server closed the connection after the response
  std::string head;                // status line and header lines, as sent, with the blank line
  std::string statusLine;
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // in order
  std::string body;                // at most the kept bytes of it
  std::uint64_t bodyBytes = 0;     // all body bytes that arrived

  bool Has(const std::string& name) const { return Find(name) != nullptr; }
  std::string Header(const std::string& name) const {
    const std::string* v = Find(name);
    return v ? *v : std::string();
  }

 private:
  const std::string* Find(const std::string& name) const {
    for (const auto& [n, v] : headers) {
      if (n.size() == name.size() &&
          std::equal(n.begin(), n.end(), name.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
          })) {
        return &v;
      }
    }
    return nullptr;
  }
};

inline net::Endpoint Loopback(std::uint16_t port) {
  net::Endpoint e;
  e.address[0] = 127;
  e.address[3] = 1;
  e.port = port;
  return e;
}

// Sends request and reads the answer until the server closes or timeoutMs passes.
inline WireResponse Exchange(std::uint16_t port, const std::string& request, int timeoutMs = 20000,
                             std::size_t keepBodyBytes = 64u << 20) {
  WireResponse r;
  net::Startup();
  const net::SocketHandle s = net::OpenStream();
  if (s == net::kInvalidSocket) return r;
  if (net::Connect(s, Loopback(port), 5000) != 0) {
    net::Close(s);
    return r;
  }
  r.connected = true;
  std::size_t sent = 0;
  while (sent < request.size()) {
    const long n = net::Send(s, request.data() + sent, request.size() - sent);
    if (n <= 0) break;
    sent += static_cast<std::size_t>(n);
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string buffer;
  bool headDone = false;
  std::vector<char> chunk(1 << 20);
  while (std::chrono::steady_clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (net::WaitReadable(s, static_cast<int>(left.count()) + 1) != 1) break;
    const long n = net::Recv(s, chunk.data(), chunk.size());
    if (n <= 0) {
      r.closed = n == 0;
      break;
    }
    if (headDone) {
      r.bodyBytes += static_cast<std::uint64_t>(n);
      const std::size_t room = keepBodyBytes - std::min(keepBodyBytes, r.body.size());
      r.body.append(chunk.data(), std::min<std::size_t>(room, static_cast<std::size_t>(n)));
      continue;
    }
    buffer.append(chunk.data(), static_cast<std::size_t>(n));
    const std::size_t end = buffer.find("\r\n\r\n");
    if (end == std::string::npos) continue;
    headDone = true;
    r.head = buffer.substr(0, end + 4);
    r.body = buffer.substr(end + 4, keepBodyBytes);
    r.bodyBytes = buffer.size() - end - 4;
  }
  net::Close(s);
  if (!headDone) {
    r.head = buffer;
    return r;
  }
  std::size_t lineEnd = r.head.find("\r\n");
  r.statusLine = r.head.substr(0, lineEnd);
  if (r.statusLine.size() >= 12) r.status = std::atoi(r.statusLine.substr(9, 3).c_str());
  std::size_t pos = lineEnd + 2;
  while (pos < r.head.size()) {
    const std::size_t e = r.head.find("\r\n", pos);
    if (e == pos || e == std::string::npos) break;
    const std::string line = r.head.substr(pos, e - pos);
    const std::size_t colon = line.find(':');
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    r.headers.emplace_back(line.substr(0, colon), value);
    pos = e + 2;
  }
  return r;
}

// A GET (or another method) with optional extra header lines, each ending in CR LF.
inline std::string Request(const std::string& method, const std::string& target,
                           const std::string& extraHeaders = "") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
}

}  // namespace tovi::testing

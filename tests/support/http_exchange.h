// An HTTP exchange over a loopback socket with the answer taken apart, for tests that check
// bytes on the wire. Every wait is bounded; a response is read until the server closes.
#pragma once
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/raw_client.h"

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

// Fills the status and header fields from r->head.
inline void ParseHead(WireResponse* r) {
  const std::size_t lineEnd = r->head.find("\r\n");
  r->statusLine = r->head.substr(0, lineEnd);
  if (r->statusLine.size() >= 12) r->status = std::atoi(r->statusLine.substr(9, 3).c_str());
  std::size_t pos = lineEnd + 2;
  while (pos < r->head.size()) {
    const std::size_t e = r->head.find("\r\n", pos);
    if (e == pos || e == std::string::npos) break;
    const std::string line = r->head.substr(pos, e - pos);
    const std::size_t colon = line.find(':');
    std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
    while (!value.empty() && value.front() == ' ') value.erase(0, 1);
    r->headers.emplace_back(line.substr(0, colon), value);
    pos = e + 2;
  }
}

// A whole answer as read off a connection, taken apart (connected stays false without a head).
inline WireResponse ParseResponse(const std::string& raw) {
  WireResponse r;
  const std::size_t end = raw.find("\r\n\r\n");
  if (end == std::string::npos) return r;
  r.connected = true;
  r.head = raw.substr(0, end + 4);
  r.body = raw.substr(end + 4);
  r.bodyBytes = r.body.size();
  ParseHead(&r);
  return r;
}

// Sends request to 127.0.0.1:port and reads the answer until the server closes or timeoutMs
// passes; keeps keepBodyBytes of the body and counts the rest.
inline WireResponse Exchange(std::uint16_t port, const std::string& request, int timeoutMs = 20000,
                             std::size_t keepBodyBytes = 64u << 20) {
  WireResponse r;
  tovi::testing::RawClient client;
  if (!client.Connect(port)) return r;
  r.connected = true;
  client.Send(request);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string head;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const std::string chunk = client.ReadCount(1, static_cast<int>(left.count()));
    if (chunk.empty()) break;  // closed or out of time
    if (r.head.empty()) {
      head += chunk;
      const std::size_t end = head.find("\r\n\r\n");
      if (end == std::string::npos) continue;
      r.head = head.substr(0, end + 4);
      r.body = head.substr(end + 4, keepBodyBytes);
      r.bodyBytes = head.size() - end - 4;
      continue;
    }
    r.bodyBytes += chunk.size();
    r.body.append(chunk, 0, keepBodyBytes - std::min(keepBodyBytes, r.body.size()));
  }
  r.closed = client.PeerClosed();
  if (r.head.empty()) {
    r.head = head;
    return r;
  }
  ParseHead(&r);
  return r;
}

// A GET (or another method) with optional extra header lines, each ending in CR LF.
inline std::string Request(const std::string& method, const std::string& target,
                           const std::string& extraHeaders = "") {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
}

// One request over a fresh connection to 127.0.0.1:port, its answer read until the server
// closes. The default wait is long enough for a whole GiB under the sanitizers; a test that
// needs an answer sooner says so.
inline WireResponse Get(std::uint16_t port, const std::string& target,
                        const std::string& extraHeaders = "", const std::string& method = "GET",
                        int timeoutMs = 120000, std::size_t keepBodyBytes = 64u << 20) {
  return Exchange(port, Request(method, target, extraHeaders), timeoutMs, keepBodyBytes);
}

}  // namespace tovi::testing

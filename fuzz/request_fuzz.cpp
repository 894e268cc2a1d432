// Fuzzes the server's request head parsing: request line, header lines, Range, Content-Length,
// cookies, authorization, the body rules, and the handler's range resolution. The input is
// everything a client sends on one connection.
#include <algorithm>
#include <cstdint>
#include <string>

#include "engine_harness.h"
#include "http/byte_range.h"
#include "http/exceptions.h"

using namespace tovi;
using tovi::fuzz::Fail;

namespace {

constexpr const char* kHandlerError = "thrown by the handler";

// What the handler threw during one exchange: each throw owes the client a 500 with the
// message (in its body, unless the request was a HEAD).
struct Throws {
  std::size_t count = 0;
  std::size_t withBody = 0;
} throws;

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void CheckRequest(const http::TNetHTTPRequestInfo& request, http::TNetHTTPResponseInfo& response) {
  const std::string& raw = request.RawRequestLine();
  // The path comes from the target, which is part of the line; decoding only shrinks it
  // (an absolute URL's path gains one leading '/').
  if (request.RequestPath().size() > raw.size() + 1) Fail("path longer than the request line");
  if (request.QueryText().size() > raw.size()) Fail("query longer than the request line");
  if (request.HeaderLines().Count() > 100) Fail("more header lines than the limit let in");

  // Every "&" of the parameter source separates two entries.
  if (!request.QueryText().empty() && request.ContentType().empty()) {
    const auto amps = std::count(request.QueryText().begin(), request.QueryText().end(), '&');
    if (request.ParamList().size() != static_cast<std::size_t>(amps) + 1) Fail("param count");
  }
  // What the media handler does with the range, against a file size taken from the request.
  const http::ByteRange range = request.Range();
  if (range.specs.size() > http::kMaxRangeSpecs) Fail("range list past its bound");
  for (const http::ByteRangeSpec& spec : range.specs) {
    if (spec.suffix && spec.first != 0) Fail("suffix with a start");
    if (!spec.suffix && spec.hasLast && spec.last < spec.first) Fail("last byte before the first");
  }
  const std::uint64_t sizes[] = {0, 1, 4096, (1ull << 30), (1ull << 63) + 5, ~0ull};
  for (std::uint64_t size : sizes) {
    std::uint64_t first = 0, length = 0;
    if (http::ResolveRange(range, size, &first, &length) == http::RangeAnswer::Partial) {
      if (length == 0 || first >= size || length > size - first) Fail("range outside the file");
    }
  }

  std::string body = request.RequestMethod() + " " + request.RequestPath().substr(0, 256);
  for (const auto& p : request.ParamList()) body += "\n" + p.substr(0, 64);
  for (const auto& c : request.CookieList()) body += "\nc " + c.Name.substr(0, 64);
  if (request.AuthExists()) body += "\nauth " + request.AuthUsername().substr(0, 64);
  // A handler that throws must give a 500 with the message, not a broken connection.
  if (request.RequestPath().find("/throw") != std::string::npos) {
    ++throws.count;
    if (request.RequestMethod() != "HEAD") ++throws.withBody;
    throw http::ENetException(kHandlerError);
  }
  response.SetBodyText(body.substr(0, 4096));
}

fuzz::LoopServer& Server() {
  static fuzz::LoopServer* server = [] {
    auto* s = new fuzz::LoopServer();
    s->OnCommandGet = [](http::TNetPeerThread&, http::TNetHTTPRequestInfo& request,
                         http::TNetHTTPResponseInfo& response) { CheckRequest(request, response); };
    return s;
  }();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // KeepAlive stays off as in the product, except for inputs starting with 'k': then pipelined
  // requests are read too.
  fuzz::LoopServer& server = Server();
  server.SetKeepAlive(size > 0 && data[0] == 'k');
  throws = {};
  const std::string answer =
      fuzz::Exchange(server, std::string_view(reinterpret_cast<const char*>(data), size));
  if (!answer.empty() && answer.rfind("HTTP/1.1 ", 0) != 0) fuzz::Fail("answer without a status line");
  // Other answers may echo these texts (a path holds anything), so they count at least.
  if (Occurrences(answer, "HTTP/1.1 500 Internal Server Error\r\n") < throws.count)
    fuzz::Fail("a throwing handler's request got no 500");
  if (Occurrences(answer, kHandlerError) < throws.withBody)
    fuzz::Fail("a 500 without the handler's message");
  return 0;
}

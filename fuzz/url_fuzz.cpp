// Fuzzes URL and parameter decoding: URLDecode on its own, Base64 both ways, and a request
// target through the server's path decoding and parameter splitting. The input is any bytes.
#include <algorithm>
#include <cstdint>
#include <string>

#include "engine_harness.h"
#include "http/coding.h"

using namespace tovi;
using tovi::fuzz::Fail;

namespace {

std::string PercentEncodeAll(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

std::string WithoutNul(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
  return s;
}

struct Seen {
  std::string path;
  std::size_t params = 0;
};
thread_local Seen seen;

fuzz::LoopServer& Server() {
  static fuzz::LoopServer* server = [] {
    auto* s = new fuzz::LoopServer();
    s->OnCommandGet = [](http::TNetPeerThread&, http::TNetHTTPRequestInfo& request,
                         http::TNetHTTPResponseInfo&) {
      seen.path = request.RequestPath();
      seen.params = request.ParamList().size();
    };
    return s;
  }();
  return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  const std::string decoded = http::URLDecode(input);
  if (decoded.size() > input.size()) Fail("URLDecode grew the text");
  if (input.find_first_of("%+") == std::string::npos && decoded != input) {
    Fail("URLDecode changed a text without escapes");
  }
  // Every byte escaped comes back, except NUL which decoding drops.
  if (http::URLDecode(PercentEncodeAll(input)) != WithoutNul(input)) Fail("escape round trip");
  if (http::Base64Decode(http::Base64Encode(input)) != input) Fail("Base64 round trip");
  (void)http::Base64Decode(input);

  // A request line ends at LF and its target at the last space: keep the input inside it.
  if (input.size() > 8000) return 0;
  std::string target = input;
  std::replace(target.begin(), target.end(), '\n', '_');
  std::replace(target.begin(), target.end(), '\r', '_');
  std::replace(target.begin(), target.end(), ' ', '_');

  seen = Seen();
  fuzz::Exchange(Server(), "GET /p?" + target + " HTTP/1.1\r\n\r\n");
  if (seen.path != "/p") Fail("query leaked into the path");
  // An empty query gives no parameters; otherwise one more than there are '&'.
  const std::size_t amps = static_cast<std::size_t>(std::count(target.begin(), target.end(), '&'));
  if (seen.params != (target.empty() ? 0 : amps + 1)) {
    Fail("parameters not split at every '&'");
  }

  // A fully escaped path decodes to the bytes themselves (NUL dropped), whatever they are.
  seen = Seen();
  fuzz::Exchange(Server(), "GET /" + PercentEncodeAll(input.substr(0, 2000)) + " HTTP/1.1\r\n\r\n");
  if (seen.path != "/" + WithoutNul(input.substr(0, 2000))) Fail("escaped path not restored");
  return 0;
}

#include "http/client/wire.h"

#include "http/coding.h"
#include "http/header_list.h"
#include "http/header_values.h"

namespace tovi::http {

int ParseStatusCode(const std::string& statusLine) {
  const std::size_t space = statusLine.find(' ');
  if (space == std::string::npos) return -1;
  const std::string rest = Trim(statusLine.substr(space + 1));
  const std::optional<std::int32_t> code = ParseInt32(rest.substr(0, rest.find(' ')));
  return code ? *code : -1;
}

std::string_view VersionText(TNetHTTPProtocolVersion version) {
  return version == TNetHTTPProtocolVersion::pv1_0 ? "HTTP/1.0" : "HTTP/1.1";
}

std::string HostHeaderValue(const std::string& host, const std::string& port) {
  return port == "80" ? host : host + ":" + port;
}

std::string EscapeRequestTarget(const std::string& target) {
  return PercentEncode(target, [](unsigned char b) { return b <= 0x20 || b == 0x7F; });
}

bool IsHeaderValueSafe(const std::string& text) {
  for (const char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if ((b < 0x20 && b != '\t') || b == 0x7F) return false;
  }
  return true;
}

bool IsHostNameSafe(const std::string& host) {
  for (const char c : host) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b == 0x7F) return false;
  }
  return true;
}

}  // namespace tovi::http

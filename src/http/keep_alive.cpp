#include "http/keep_alive.h"

#include "http/header_list.h"
#include "http/header_values.h"

namespace tovi::http {
namespace {

// "HTTP/" DIGIT "." DIGIT, 1.1 or later.
bool PersistentByDefault(std::string_view version) {
  if (version.size() != 8 || version.substr(0, 5) != "HTTP/" || version[6] != '.') return false;
  const char major = version[5], minor = version[7];
  if (major < '0' || major > '9' || minor < '0' || minor > '9') return false;
  return major > '1' || (major == '1' && minor >= '1');
}

}  // namespace

bool KeepsConnectionOpen(std::string_view httpVersion, std::string_view connectionOptions) {
  bool keepAlive = false;
  const bool noClose = ForEachListElement(connectionOptions, [&keepAlive](std::string_view option) {
    keepAlive = keepAlive || SameText(option, "keep-alive");
    return !SameText(option, "close");
  });
  return noClose && (keepAlive || PersistentByDefault(httpVersion));
}

}  // namespace tovi::http

#include "app/options.h"

#include "app/address.h"
#include "remote/service_hosts.h"

namespace tovi::app {

namespace {
// HOST or HOST:PORT with a port of 1 to 65535.
bool IsHostAndPort(const std::string& value) {
  if (value.empty() || value.find_first_of(" /?#@\\") != std::string::npos) return false;
  const std::size_t colon = value.find(':');
  if (colon == std::string::npos) return true;
  const std::string port = value.substr(colon + 1);
  if (colon == 0 || port.empty() || port.size() > 5 ||
      port.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const long number = std::stol(port);
  return number >= 1 && number <= 65535;
}
// Dotted IPv4: four decimal numbers of 0 to 255, as the TVs and the list service are given it.
bool IsDottedIPv4(const std::string& value) {
  std::size_t start = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t end = part < 3 ? value.find('.', start) : value.size();
    if (end == std::string::npos) return false;
    const std::string number = value.substr(start, end - start);
    if (number.empty() || number.size() > 3 ||
        number.find_first_not_of("0123456789") != std::string::npos || std::stoi(number) > 255) {
      return false;
    }
    start = end + 1;
  }
  return true;
}
}  // namespace

Options ParseOptions(int argc, const char* const* argv) {
  Options options;
  for (int i = 1; i < argc && options.error.empty(); ++i) {
    const std::string arg = argv[i];
    const auto value = [&](std::string* out) {
      if (i + 1 >= argc) {
        options.error = "missing value after " + arg;
      } else {
        *out = argv[++i];
      }
    };
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--address") {
      value(&options.address);
      if (options.error.empty() && !IsDottedIPv4(options.address)) {
        options.error = "--address needs an IPv4 address such as 192.168.1.5";
      }
    } else if (arg == "--list-host") {
      value(&options.listHost);
      if (options.error.empty() && !IsHostAndPort(options.listHost)) {
        options.error = "--list-host needs HOST or HOST:PORT";
      }
    } else if (arg == "--site-host") {
      value(&options.siteHost);
      if (options.error.empty() && !IsHostAndPort(options.siteHost)) {
        options.error = "--site-host needs HOST or HOST:PORT";
      }
    } else {
      options.error = "unknown option " + arg;
    }
  }
  return options;
}

std::string UsageText() {
  return std::string(
             "Usage: remote-toviplayer [options]\n"
             "  --address A             announce and serve at address A instead of choosing it\n"
             "  --list-host HOST[:PORT] the list service host (default ") +
         remote::kDefaultListServiceHost +
         ")\n"
         "  --site-host HOST[:PORT] the main site host (default " +
         remote::kDefaultMainSiteHost +
         ")\n"
         "  --help                  this text\n";
}

void ApplyOptions(const Options& options) {
  SetLocalAddressOverride(options.address);
  if (!options.listHost.empty()) remote::CurrentServiceHosts().listService = options.listHost;
  if (!options.siteHost.empty()) remote::CurrentServiceHosts().mainSite = options.siteHost;
}

}  // namespace tovi::app

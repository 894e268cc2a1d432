// Runs discovery alone, for the tests with real control points: announces this PC's device at
// the address given (with the description URL the program gives it), prints "uuid:<UUID>" and
// "started"; a line "move ADDRESS" moves it to another adapter's address ("moved"); the end of
// its input stops it (with its goodbye) and prints "stopped". A start that fails prints the
// error and ends with 1. With EVERY_MS it announces without end, a round every EVERY_MS (the
// waits between rounds then show what they cost). Usage: ssdp_driver ADDRESS [EVERY_MS]
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <string>

#include "dlna/device.h"
#include "dlna/identity.h"
#include "dlna/ssdp_service.h"

namespace {

void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

void Start(tovi::dlna::SsdpService& service, const std::string& address,
           const tovi::dlna::DeviceIdentity& identity) {
  service.Start(address, "http://" + address + ":8027" + tovi::dlna::UrlTarget(tovi::dlna::kDescriptionQuery),
                identity);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: ssdp_driver ADDRESS [EVERY_MS]\n");
    return 2;
  }
  const tovi::dlna::DeviceIdentity identity = tovi::dlna::ThisDeviceIdentity();
  tovi::dlna::SsdpLimits limits;
  if (argc == 3) {
    limits.announceSpacingMs = std::atoi(argv[2]);
    limits.announceRounds = std::numeric_limits<int>::max();
  }
  tovi::dlna::SsdpService service(limits);
  try {
    Start(service, argv[1], identity);
    Say(tovi::dlna::Udn(identity));
    Say("started");
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.rfind("move ", 0) == 0) {
        Start(service, line.substr(5), identity);
        Say("moved");
      }
    }
  } catch (const tovi::dlna::SsdpError& e) {
    Say(e.what());
    return 1;
  }
  service.Stop();
  Say("stopped");
  return 0;
}

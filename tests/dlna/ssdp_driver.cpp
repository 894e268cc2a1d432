// Runs discovery alone, for the tests with real control points: announces this PC's device at
// the address given (its description URL as the program builds it), prints "uuid:<UUID>" and
// "started", and on the end of its input or SIGTERM/SIGINT stops (saying goodbye) and prints
// "stopped". Usage: ssdp_driver ADDRESS
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "dlna/device.h"
#include "dlna/identity.h"
#include "dlna/ssdp_service.h"
#include "platform/socket.h"

namespace {

volatile std::sig_atomic_t gSignalled = 0;
void OnSignal(int) { gSignalled = 1; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ssdp_driver ADDRESS\n");
    return 2;
  }
  const std::string address = argv[1];
  const tovi::dlna::DeviceIdentity identity = tovi::dlna::ThisDeviceIdentity();
  tovi::dlna::SsdpService service;
  try {
    service.Start(address, "http://" + address + ":8027" + tovi::dlna::UrlTarget(tovi::dlna::kDescriptionQuery),
                  identity);
  } catch (const tovi::dlna::SsdpError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("%s\nstarted\n", tovi::dlna::Udn(identity).c_str());
  std::fflush(stdout);
  std::signal(SIGTERM, OnSignal);
  std::signal(SIGINT, OnSignal);
  // The input's end is read on a thread of its own, so a signal is noticed while it blocks.
  std::thread([] {
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    gSignalled = 1;
  }).detach();
  while (!gSignalled) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  service.Stop();
  std::printf("stopped\n");
  std::fflush(stdout);
  return 0;
}

// Fuzzes the discovery datagram reader: any bytes heard on the group. It must never fail, and
// what it answers must be sound: only the device's own targets, each once at most (all six only
// for ssdp:all), with a delay within the cap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "dlna/ssdp.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tovi::dlna;
  static const DeviceIdentity identity{"b242dadf-26c1-5b01-b21f-34ccb407c19c", "Remote Toviplayer (PC)"};
  static const std::vector<ssdp::Target> all = ssdp::DeviceTargets(identity);
  const std::string_view datagram(reinterpret_cast<const char*>(data), size);
  const auto answers = ssdp::AnswerSearch(datagram, identity);
  if (!answers) return 0;
  if (answers->targets.empty()) Fail("an answer without targets");
  if (answers->maxDelayMs < 0 || answers->maxDelayMs > ssdp::kMaxSearchDelaySeconds * 1000) {
    Fail("a delay beyond the cap");
  }
  if (answers->targets.size() != 1 && answers->targets.size() != all.size()) Fail("a partial set");
  for (const ssdp::Target& t : answers->targets) {
    bool ours = false;
    for (const ssdp::Target& a : all) ours = ours || (a.nt == t.nt && a.usn == t.usn);
    if (!ours) Fail("a target that is not the device's");
  }
  if (datagram.substr(0, 9) != "M-SEARCH ") Fail("answered something that is no search");
  return 0;
}

#include <limits.h>
#include <unistd.h>

#include "platform/autostart.h"

namespace tovi::autostart {

namespace {

class AbsentRunEntry : public RunEntry {
 public:
  std::optional<std::string> Read() override { return std::nullopt; }
  void Write(const std::string&) override {}
  void Remove() override {}
};

}  // namespace

bool Supported() { return false; }

std::unique_ptr<RunEntry> SystemRunEntry(const std::string&) {
  return std::make_unique<AbsentRunEntry>();
}

std::string ExecutablePath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace tovi::autostart

// The machine's id from systemd's file (or D-Bus's, on systems without systemd), the host name
// and uname behind platform/identity.h.
#include "platform/identity.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <fstream>

namespace tovi::machine {
namespace {

// An id file holds 32 hex digits and a line end; anything longer is not one.
constexpr std::size_t kMaxIdBytes = 64;

std::string FirstLine(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line) || line.size() > kMaxIdBytes) return "";
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

}  // namespace

std::string MachineId() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::string id = FirstLine(path);
    if (!id.empty()) return id;
  }
  return "";
}

std::string ComputerName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string SystemProduct() {
  utsname u{};
  if (::uname(&u) != 0) return "Linux/0";
  // "6.1.0-13-amd64": the kernel's version without the distribution's build suffix.
  const std::string release = u.release;
  const std::string version = release.substr(0, release.find_first_not_of("0123456789."));
  return std::string(u.sysname) + "/" + (version.empty() ? std::string("0") : version);
}

}  // namespace tovi::machine

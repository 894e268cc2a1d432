// The program's value among those Windows starts at the user's logon (the Run key of the current
// user), and the running executable's path that such a value names. Linux has no such list
// (a systemd user unit does it, see the README): there the entry is not supported.
// Failures to write raise EInOutError with the runtime's texts. GUI thread only.
#pragma once
#include <memory>
#include <optional>
#include <string>

namespace tovi::autostart {

class RunEntry {
 public:
  virtual ~RunEntry() = default;
  // The value's text (UTF-8), or nothing when there is no such value.
  virtual std::optional<std::string> Read() = 0;
  virtual void Write(const std::string& command) = 0;
  // Nothing to remove is no failure.
  virtual void Remove() = 0;
};

// Whether this system starts programs from such a list.
bool Supported();
// The entry named valueName; on a system without the list, one that is always absent and
// ignores writes.
std::unique_ptr<RunEntry> SystemRunEntry(const std::string& valueName);
// The running executable's full path (UTF-8).
std::string ExecutablePath();

}  // namespace tovi::autostart

// The settings file setstovi.cfg beside the executable: "[Path]", the sync folder, "[LFRS]",
// "true" or "false". Lines count by position only; labels are never checked. Each writer
// replaces the file atomically, so a crash or a full disk never leaves a truncated file.
// Failures raise EInOutError with the runtime's texts. Safe from any thread (no shared state).
#pragma once
#include <optional>
#include <string>

namespace tovi::app {

inline constexpr const char* kSettingsFileName = "setstovi.cfg";

// The executable's folder followed by kSettingsFileName.
std::string SettingsFilePath();

struct StoredSettings {
  std::optional<std::string> syncFolder;  // line 1, when the file has one (an empty line counts)
  bool startServer = false;               // line 3 is exactly "true"
};

// A missing file gives the defaults; an unreadable one raises EInOutError.
StoredSettings ReadSettings(const std::string& path);

// All four lines; serverOn: the server is on, or being switched on, and starts with the program.
void WriteSettings(const std::string& path, const std::string& syncFolder, bool serverOn);

}  // namespace tovi::app

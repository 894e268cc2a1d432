// The settings file setstovi.cfg beside the executable: "[Path]", the sync folder, "[LFRS]",
// "true" or "false". Lines count by position only; those labels are never checked. After them
// come pairs of lines, a label and its value, which readers of the four lines (older versions)
// never look at, each only where it differs from the default: "[Adapter]" and the chosen
// adapter's id, "[DLNA]" and "false" while the PC is not shown to TVs. So a file without a
// choice made has its four lines only. Each writer replaces the file atomically, so a crash or
// a full disk never leaves a truncated file.
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
  std::string adapterId;                  // after "[Adapter]"; "" = the automatic choice
  bool shownToTvs = true;                 // "false" after "[DLNA]" turns it off
};

// A missing file gives the defaults; an unreadable one raises EInOutError.
StoredSettings ReadSettings(const std::string& path);

// Every line; serverOn: the server is on, or being switched on, and starts with the program;
// adapterId: the adapter the user chose ("" = the automatic choice); shownToTvs: the PC is
// shown to TVs' own players while the server is on.
void WriteSettings(const std::string& path, const std::string& syncFolder, bool serverOn,
                   const std::string& adapterId, bool shownToTvs);

}  // namespace tovi::app

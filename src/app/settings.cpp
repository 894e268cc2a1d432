#include "app/settings.h"

#include <vector>

#include "platform/files.h"
#include "platform/text_lines.h"

namespace tovi::app {

namespace {
constexpr const char* kServerOnMark = "true";  // line 3; anything else is off
constexpr const char* kAdapterLabel = "[Adapter]";  // line 4, when an adapter was chosen
}  // namespace

std::string SettingsFilePath() { return fs::ExecutableDirectory() + kSettingsFileName; }

StoredSettings ReadSettings(const std::string& path) {
  StoredSettings settings;
  if (!fs::FileExists(path)) return settings;
  const std::vector<std::string> lines = text::SplitLines(fs::ReadWholeFile(path));
  if (lines.size() > 1) settings.syncFolder = lines[1];
  settings.startServer = lines.size() > 3 && lines[3] == kServerOnMark;
  if (lines.size() > 5 && lines[4] == kAdapterLabel) settings.adapterId = lines[5];
  return settings;
}

void WriteSettings(const std::string& path, const std::string& syncFolder, bool serverOn,
                   const std::string& adapterId) {
  std::string text = "[Path]\r\n" + syncFolder + "\r\n[LFRS]\r\n" +
                     (serverOn ? kServerOnMark : "false") + "\r\n";
  if (!adapterId.empty()) text += std::string(kAdapterLabel) + "\r\n" + adapterId + "\r\n";
  fs::WriteFileAtomically(path, text);
}

}  // namespace tovi::app

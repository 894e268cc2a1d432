#include "app/settings.h"

#include <vector>

#include "platform/files.h"
#include "platform/text_lines.h"

namespace tovi::app {

namespace {
constexpr const char* kServerOnMark = "true";  // line 3; anything else is off
constexpr std::size_t kFirstPair = 4;  // the labelled pairs follow the four lines
constexpr const char* kAdapterLabel = "[Adapter]";  // when an adapter was chosen
constexpr const char* kDlnaLabel = "[DLNA]";        // while not shown to TVs
constexpr const char* kDlnaOffMark = "false";       // anything else is the default, shown
}  // namespace

std::string SettingsFilePath() { return fs::ExecutableDirectory() + kSettingsFileName; }

StoredSettings ReadSettings(const std::string& path) {
  StoredSettings settings;
  if (!fs::FileExists(path)) return settings;
  const std::vector<std::string> lines = text::SplitLines(fs::ReadWholeFile(path));
  if (lines.size() > 1) settings.syncFolder = lines[1];
  settings.startServer = lines.size() > 3 && lines[3] == kServerOnMark;
  // By pairs: a value (an adapter's id may be anything) is never taken for a label.
  for (std::size_t label = kFirstPair; label + 1 < lines.size(); label += 2) {
    if (lines[label] == kAdapterLabel) settings.adapterId = lines[label + 1];
    if (lines[label] == kDlnaLabel) settings.shownToTvs = lines[label + 1] != kDlnaOffMark;
  }
  return settings;
}

void WriteSettings(const std::string& path, const std::string& syncFolder, bool serverOn,
                   const std::string& adapterId, bool shownToTvs) {
  std::string text = "[Path]\r\n" + syncFolder + "\r\n[LFRS]\r\n" +
                     (serverOn ? kServerOnMark : "false") + "\r\n";
  // The adapter's pair first: the version before this one looks for it at lines 5 and 6 only.
  if (!adapterId.empty()) text += std::string(kAdapterLabel) + "\r\n" + adapterId + "\r\n";
  if (!shownToTvs) text += std::string(kDlnaLabel) + "\r\n" + kDlnaOffMark + "\r\n";
  fs::WriteFileAtomically(path, text);
}

}  // namespace tovi::app

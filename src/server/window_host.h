// MediaHost over the main window's values, given as callbacks so this library needs nothing of
// the window itself. Announcements are serialised here: the compare, the store of the active
// device and its caption happen as one step, so two TVs announcing at once leave a caption that
// names the device stored.
// Thread safety: as MediaHost; each callback must itself be safe from connection threads.
#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <utility>

#include "server/media_host.h"

namespace tovi::server {

struct MediaWindow {
  std::function<void(const std::string&)> showRequestPath;
  std::function<void(const std::string&)> showTrace;
  std::function<void(const std::string&)> showDeviceCaption;
  std::function<std::string()> activeDevice;
  std::function<void(const std::string&)> setActiveDevice;
  std::function<std::string()> localAddress;
};

class WindowMediaHost : public MediaHost {
 public:
  explicit WindowMediaHost(MediaWindow window) : window_(std::move(window)) {}

  void ShowRequestPath(const std::string& text) override { window_.showRequestPath(text); }
  void ShowTrace(const std::string& text) override { window_.showTrace(text); }
  bool AnnounceDevice(const std::string& device, const std::string& deviceCaption) override {
    std::lock_guard<std::mutex> lock(announceLock_);
    if (window_.activeDevice() == device) return false;
    window_.setActiveDevice(device);
    window_.showDeviceCaption(deviceCaption);
    return true;
  }
  std::string LocalAddress() override { return window_.localAddress(); }

 private:
  MediaWindow window_;
  std::mutex announceLock_;
};

}  // namespace tovi::server

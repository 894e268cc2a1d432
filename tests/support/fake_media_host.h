// The main window's side of the media request handler, faked: keeps what the handler shows and
// announces, counts streams and address lookups, and names a fixed local address. Safe from
// connection threads, as the window must be.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <utility>

#include "server/media_host.h"
#include "server/stream_activity.h"

namespace tovi::testing {

class FakeMediaHost : public server::MediaHost, public server::StreamActivity {
 public:
  // localAddress: what the playlists link to.
  explicit FakeMediaHost(std::string localAddress) : localAddress_(std::move(localAddress)) {}

  void ShowRequestPath(const std::string& text) override { Set(requestPath_, text); }
  void ShowTrace(const std::string& text) override { Set(trace_, text); }
  bool AnnounceDevice(const std::string& device, const std::string& deviceCaption) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (device == activeDevice_) return false;
    activeDevice_ = device;
    deviceCaption_ = deviceCaption;
    ++announcements_;
    return true;
  }
  std::string LocalAddress() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++addressLookups_;
    return localAddress_;
  }
  void StreamStarted() override { ++streamsStarted; }
  void StreamEnded() override { ++streamsEnded; }
  std::atomic<int> streamsStarted{0}, streamsEnded{0};

  // The window's texts start as the form's captions.
  std::string RequestPath() { return Get(requestPath_); }
  std::string Trace() { return Get(trace_); }
  std::string DeviceCaption() { return Get(deviceCaption_); }
  std::string ActiveDevice() { return Get(activeDevice_); }
  int Announcements() { std::lock_guard<std::mutex> lock(mutex_); return announcements_; }
  int AddressLookups() { std::lock_guard<std::mutex> lock(mutex_); return addressLookups_; }

 private:
  void Set(std::string& field, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    field = value;
  }
  std::string Get(const std::string& field) {
    std::lock_guard<std::mutex> lock(mutex_);
    return field;
  }
  std::mutex mutex_;
  const std::string localAddress_;
  std::string requestPath_ = "Label2", trace_ = "Memo1", deviceCaption_ = "Нет устройства";
  std::string activeDevice_;
  int announcements_ = 0, addressLookups_ = 0;
};

}  // namespace tovi::testing

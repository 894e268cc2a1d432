// What the media request handler needs of the main window: the traces it writes, the device it
// records, the address its playlists link to. The window implements it; tests fake it.
// Thread safety: every member is called from connection threads, several at once, and must be
// safe against the GUI thread's own use of the same values.
#pragma once
#include <string>

namespace tovi::server {

class MediaHost {
 public:
  virtual ~MediaHost() = default;

  // Every text given to the window is UTF-8, as the window's own are: the handler converts data
  // in the system code page (a TV's name) where it takes it in.
  // The last request's path as the window shows it: the local file's path, or "Not Found/"
  // and the path.
  virtual void ShowRequestPath(const std::string& text) = 0;
  // The window's trace text: "Не найдено" after a failed cut.
  virtual void ShowTrace(const std::string& text) = 0;
  // Under the lock that guards the active device: when device differs from it, stores device
  // and shows deviceCaption as the active device's caption, both before the lock is released.
  // Returns whether it changed.
  virtual bool AnnounceDevice(const std::string& device, const std::string& deviceCaption) = 0;
  // The PC's address as the playlists' URLs name it ("" when the lookup fails).
  virtual std::string LocalAddress() = 0;
};

}  // namespace tovi::server

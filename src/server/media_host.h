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
  // The caption of Label2: the file path text of the last request.
  virtual void SetLabel2Caption(const std::string& caption) = 0;
  // The text of Memo1: "Не найдено" after a failed cut.
  virtual void SetMemo1Text(const std::string& text) = 0;
  // Under the lock that guards ActiveDevice: when device differs from it, stores device and sets
  // the caption of N3 to n3Caption, both before the lock is released. Returns whether it changed.
  virtual bool AnnounceDevice(const std::string& device, const std::string& n3Caption) = 0;
  // The PC's address as the playlists' URLs name it ("" when the lookup fails).
  virtual std::string LocalAddress() = 0;
};

}  // namespace tovi::server

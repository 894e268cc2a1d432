// One copy of the program per user session. The first start claims the session's place; the
// system gives it up when that process ends in any way, so a copy left by a crash never blocks
// the next start (Windows: a named mutex in the session's namespace; Linux: an flock on a file in
// the user's runtime folder, $XDG_RUNTIME_DIR, else /tmp). A second start tells the first copy:
// on Windows the first copy's main window receives SecondStartMessage() and speaks for itself;
// on Linux the second reads the address the first published.
// GUI thread only.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

namespace tovi::instance {

// How long a second start looks for the first copy's window (it may be starting just now).
inline constexpr int kFindFirstCopyMs = 5000;
// The most of a published address a second start reads.
inline constexpr int kMaxPublishedBytes = 256;

class Claim {
 public:
  virtual ~Claim() = default;  // gives the place up
  // What a second start is told: the address the first copy serves at. Where the window answers
  // itself (Windows) nothing is kept.
  virtual void Publish(const std::string& address) = 0;
};

// The claim on name's place, or nullptr when a live copy holds it. Where the place cannot be
// made (a runtime folder we cannot write), a claim that guards nothing: the program still runs.
std::unique_ptr<Claim> TryClaim(const std::string& name);

struct FirstCopy {
  bool answersItself = false;  // its window was told and shows the news itself
  std::string address;         // as it published it; "" when unknown
};
// A second start: tells the first copy holding name's place (bounded by kFindFirstCopyMs).
FirstCopy NotifyFirstCopy(const std::string& name);

// The message the first copy's main window receives for a second start; 0 where there is none.
std::uint32_t SecondStartMessage();

}  // namespace tovi::instance

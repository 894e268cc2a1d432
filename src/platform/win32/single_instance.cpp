#include <windows.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/single_instance.h"
#include "platform/win32/wide.h"
#include "platform/win32/window_class.h"

namespace tovi::instance {

namespace {

constexpr const wchar_t* kSecondStartMessageName = L"RemoteToviplayer.SecondStart";

class MutexClaim : public Claim {
 public:
  explicit MutexClaim(HANDLE mutex) : mutex_(mutex) {}
  ~MutexClaim() override {
    if (mutex_ != nullptr) CloseHandle(mutex_);
  }
  void Publish(const std::string&) override {}

 private:
  HANDLE mutex_;  // nullptr: a claim that guards nothing
};

BOOL CALLBACK CollectProgramWindows(HWND window, LPARAM list) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 63);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() && lstrcmpW(name, gui::kWindowClass) == 0) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  }
  return TRUE;
}

}  // namespace

std::unique_ptr<Claim> TryClaim(const std::string& name) {
  // "Local\": the user session's own namespace, so another user's copy is no obstacle.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, text::Utf8ToWide("Local\\" + name).c_str());
  const DWORD error = GetLastError();
  // Not even access denied says a copy of ours runs: any process of the session can make the
  // name first and deny us, so it means "cannot tell", and the program runs unguarded.
  if (mutex == nullptr) return std::make_unique<MutexClaim>(nullptr);
  if (error == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return nullptr;
  }
  return std::make_unique<MutexClaim>(mutex);
}

FirstCopy NotifyFirstCopy(const std::string&) {
  FirstCopy first;
  const UINT message = SecondStartMessage();
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kFindFirstCopyMs);
  while (message != 0) {
    std::vector<HWND> windows;
    EnumWindows(&CollectProgramWindows, reinterpret_cast<LPARAM>(&windows));
    // Every window of the program's class gets it; only the main form's acts on it.
    for (HWND window : windows) {
      if (PostMessageW(window, message, 0, 0)) first.answersItself = true;
    }
    if (first.answersItself || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return first;
}

std::uint32_t SecondStartMessage() { return RegisterWindowMessageW(kSecondStartMessageName); }

}  // namespace tovi::instance

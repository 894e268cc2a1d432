#include "platform/detached_thread.h"

#include <process.h>
#include <windows.h>

#include <cstdint>
#include <memory>

namespace tovi::process {
namespace {

unsigned __stdcall RunWork(void* parameter) {
  const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
  (*work)();
  return 0;
}

}  // namespace

bool StartDetachedThread(std::function<void()> work) {
  auto owned = std::make_unique<std::function<void()>>(std::move(work));
  // _beginthreadex rather than CreateThread: the C runtime sets up its own per-thread data.
  const std::uintptr_t thread = ::_beginthreadex(nullptr, 0, RunWork, owned.get(), 0, nullptr);
  if (thread == 0) return false;
  owned.release();  // RunWork owns it from here
  ::CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

}  // namespace tovi::process

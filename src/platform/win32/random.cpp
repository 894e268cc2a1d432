// BCryptGenRandom with the system's preferred generator behind platform/random.h.
#include "platform/random.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <string>

#include "platform/errors.h"

namespace tovi::machine {

void FillRandom(std::span<std::uint8_t> out) {
  // One call takes a ULONG's worth at most.
  constexpr std::size_t kMaxCallBytes = 1u << 30;
  for (std::size_t done = 0; done < out.size();) {
    const std::size_t part = std::min(out.size() - done, kMaxCallBytes);
    const NTSTATUS status = ::BCryptGenRandom(nullptr, out.data() + done, static_cast<ULONG>(part),
                                              BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
      throw EInOutError(static_cast<int>(status),
                        "No random source: status " + std::to_string(status));
    }
    done += part;
  }
}

}  // namespace tovi::machine

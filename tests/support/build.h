// What a test may need to know of the build it runs in.
#pragma once

namespace tovi::testing {

// Built with sanitizers (TOVI_SANITIZE): code runs several times slower and keeps freed memory
// aside, so time limits stretch, memory bounds do not hold, and the longest waits are left to
// the native build.
inline constexpr bool kSanitized = TOVI_SANITIZED != 0;
inline constexpr int kTimeScale = kSanitized ? 6 : 1;

}  // namespace tovi::testing

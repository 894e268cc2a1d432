// Bytes from the system's own random source, fit for what a peer must not guess (a
// subscription's id): Linux's getrandom (/dev/urandom on a kernel without it), Windows's
// BCryptGenRandom with the system's preferred generator. Never a seeded generator of ours.
// Throws EInOutError when the system gives none; safe from any thread.
#pragma once
#include <cstdint>
#include <span>

namespace tovi::machine {

// Fills out whole; blocks only while a freshly booted system gathers its first entropy.
void FillRandom(std::span<std::uint8_t> out);

}  // namespace tovi::machine

// Case partners of single bytes in Windows-1251, the code page of the program's texts.
#pragma once
#include <cstdint>

namespace tovi::regex {

// The upper-case form of c if it differs from c, else its lower-case form (c itself when it has
// no case).
std::uint8_t ToggleCase(std::uint8_t c);

}  // namespace tovi::regex

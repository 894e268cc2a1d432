// Case partners of single bytes in Windows-1251, the code page of the program's texts. A table
// built at compile time, so hot loops look a partner up without a call.
#pragma once
#include <array>
#include <cstdint>

namespace tovi::regex {

namespace case_map_detail {

struct CasePair {
  std::uint8_t upper;
  std::uint8_t lower;
};

// Letters outside the two contiguous blocks (A-Z and the Cyrillic 0xC0-0xFF).
inline constexpr CasePair kScatteredPairs[] = {
    {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E},
    {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4}, {0xA8, 0xB8}, {0xAA, 0xBA},
    {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
};

constexpr std::array<std::uint8_t, 256> BuildToggleTable() {
  std::array<std::uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) t[c] = static_cast<std::uint8_t>(c);
  auto pair = [&t](int upper, int lower) {
    t[upper] = static_cast<std::uint8_t>(lower);
    t[lower] = static_cast<std::uint8_t>(upper);
  };
  for (int c = 'A'; c <= 'Z'; ++c) pair(c, c + 32);
  for (int c = 0xC0; c <= 0xDF; ++c) pair(c, c + 32);
  for (const CasePair& p : kScatteredPairs) pair(p.upper, p.lower);
  return t;
}

inline constexpr std::array<std::uint8_t, 256> kToggleTable = BuildToggleTable();

}  // namespace case_map_detail

// The upper-case form of c if it differs from c, else its lower-case form (c itself when it has
// no case).
inline std::uint8_t ToggleCase(std::uint8_t c) { return case_map_detail::kToggleTable[c]; }

}  // namespace tovi::regex

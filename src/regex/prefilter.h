// Facts about a compiled program that let the search skip start positions that cannot match:
// anchoring, the literal every match starts with or contains, the bytes a match can begin with.
#pragma once
#include <cstdint>
#include <vector>

#include "regex/program.h"

namespace tovi::regex {

Prefilter AnalyzeProgram(const std::vector<std::uint8_t>& code);

}  // namespace tovi::regex

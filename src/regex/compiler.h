// Turns pattern text into a Program: one recursive-descent parser run twice, first to size the
// program, then to write it. Raises EPattern with the parser's offset on a bad pattern.
#pragma once
#include <string>

#include "regex/program.h"

namespace tovi::regex {

Program CompilePattern(const std::string& pattern, const Flags& flags, const Tables& tables);

}  // namespace tovi::regex

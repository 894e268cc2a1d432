// Facts about a compiled program that let the search skip work that cannot lead to a match:
// where a match can start, which literals it must pass through, which bytes each choice's path
// can begin with, and which literal a lazy "any byte" repetition runs up to. None of them
// changes which match is found; the plain matching path ignores them all.
#pragma once

#include "regex/program.h"

namespace tovi::regex {

// Fills program->prefilter, hints and guards from program->code. Its work is bounded by a fixed
// number of node visits; past it, the remaining facts are left unknown (nothing skipped).
void AnalyzeProgram(Program* program);

}  // namespace tovi::regex

// Splits the bytes of a text file into lines as the program's text files are read: LF or CR LF
// ends a line, a CR not directly followed by LF is dropped, byte 26 (Ctrl-Z) ends the file, and
// bytes left after the last line break form one more line (even if only dropped CRs remain).
// Pure: no I/O, safe from any thread.
#pragma once
#include <string>
#include <vector>

namespace tovi::text {

inline constexpr char kEndOfFile = 26;

std::vector<std::string> SplitLines(const std::string& bytes);

}  // namespace tovi::text

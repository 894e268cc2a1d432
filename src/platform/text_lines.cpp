#include "platform/text_lines.h"

namespace tovi::text {

std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t end = bytes.find(kEndOfFile);
  if (end == std::string::npos) end = bytes.size();
  std::string line;
  bool open = false;  // bytes seen since the last line break
  for (std::size_t i = 0; i < end; ++i) {
    const char c = bytes[i];
    if (c == '\n') {
      lines.push_back(std::move(line));
      line.clear();
      open = false;
      continue;
    }
    open = true;
    if (c == '\r' && i + 1 < end && bytes[i + 1] == '\n') continue;  // CR LF: the LF ends it
    if (c == '\r') continue;                                          // lone CR: dropped
    line += c;
  }
  if (open) lines.push_back(std::move(line));
  return lines;
}

}  // namespace tovi::text

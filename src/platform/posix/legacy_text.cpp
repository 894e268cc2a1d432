// POSIX: the locale's 8-bit charset, read from the environment once (the program never changes
// it), decoded by the program's own tables.
#include "platform/legacy_text.h"

#include <cstdlib>
#include <string_view>

#include "platform/eight_bit_text.h"

namespace tovi::text {

namespace {

std::string_view LocaleName() {
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

}  // namespace

std::string LegacyTextToUtf8(const std::string& bytes) {
  static const EightBitCharset& charset = LegacyCharsetOfLocale(LocaleName());
  return EightBitToUtf8(bytes, charset);
}

}  // namespace tovi::text

// Windows: the system's ANSI code page, as the rest of the program converts it.
#include "platform/legacy_text.h"

#include "platform/eight_bit_text.h"

#include <windows.h>

#include "platform/codepage.h"

namespace tovi::text {

std::string LegacyTextToUtf8(const std::string& bytes) {
  // A system set to UTF-8 as its ANSI page gives no 8-bit charset to read non-UTF-8 text with.
  if (GetACP() == CP_UTF8) return EightBitToUtf8(bytes, Windows1251());
  return AnsiToUtf8(bytes);
}

}  // namespace tovi::text

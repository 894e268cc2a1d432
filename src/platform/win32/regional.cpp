// Windows: asked of the user's locale each time, so a change in the settings shows at once.
#include "platform/regional.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace tovi::regional {

std::string DecimalSeparator() {
  wchar_t separator[8] = {};  // the system allows at most three characters
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) <= 1) return ".";
  return text::WideToUtf8(separator);
}

}  // namespace tovi::regional

// Windows: the user's display language, asked each time, so a change in the settings shows.
#include "platform/user_language.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace tovi::regional {

std::string UserLanguage() {
  const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  wchar_t code[9] = {};  // ISO 639 codes are at most 8 characters with the end
  if (GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, code, 9) <= 1) return std::string();
  return text::WideToUtf8(code);
}

}  // namespace tovi::regional

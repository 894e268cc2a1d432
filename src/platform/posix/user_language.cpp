// POSIX: the language part of the locale's name ("ru" of "ru_RU.UTF-8").
#include "platform/user_language.h"

#include <cstdlib>
#include <string_view>

namespace tovi::regional {

std::string UserLanguage() {
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') continue;
    const std::string_view name(value);
    const std::string_view language = name.substr(0, name.find_first_of("_.@"));
    if (language.size() < 2 || language.size() > 3) return std::string();  // "C", "POSIX"
    std::string code;
    for (const char c : language) {
      if (c < 'a' || c > 'z') return std::string();
      code += c;
    }
    return code;
  }
  return std::string();
}

}  // namespace tovi::regional

// The language the PC's user reads, as an ISO 639-1 code in lower case ("ru", "en"), or "" when
// the system names none. Windows: the user's display language; POSIX: the locale's (the first
// of LC_ALL, LC_MESSAGES, LANG that is set; "C" and "POSIX" name none).
// Safe from any thread.
#pragma once
#include <string>

namespace tovi::regional {

std::string UserLanguage();

}  // namespace tovi::regional

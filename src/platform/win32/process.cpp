#include "platform/process.h"

#include <windows.h>

namespace tovi::process {

void SuppressCriticalErrorBoxes() {
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

}  // namespace tovi::process

#include "platform/process.h"

#include <malloc.h>
#include <windows.h>

namespace tovi::process {

void SuppressCriticalErrorBoxes() {
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
}

void OpenMissingStandardStreams() {}

void RaiseOpenFileLimit() {}

void ReturnFreeMemory() { _heapmin(); }

}  // namespace tovi::process

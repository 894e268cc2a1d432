#include "platform/errors.h"

namespace tovi {

EInOutError EInOutError::FromCode(int code) {
  switch (code) {
    case 2: return EInOutError(code, "File not found");
    case 3: return EInOutError(code, "Path not found");
    case 5: return EInOutError(code, "File access denied");
    case 112: return EInOutError(code, "Disk full");
    default: return EInOutError(code, "I/O error " + std::to_string(code));
  }
}

}  // namespace tovi

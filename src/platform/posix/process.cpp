#include "platform/process.h"

namespace tovi::process {

void SuppressCriticalErrorBoxes() {}

}  // namespace tovi::process

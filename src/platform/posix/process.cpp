#include "platform/process.h"

#include <malloc.h>
#include <sys/resource.h>

namespace tovi::process {
namespace {

// Where the hard limit is "unlimited", the kernel still refuses a soft limit above its own
// ceiling (fs.nr_open, 1,048,576 by default): that much is asked instead.
constexpr rlim_t kUnlimitedAsk = rlim_t{1} << 20;

}  // namespace

void SuppressCriticalErrorBoxes() {}

void RaiseOpenFileLimit() {
  rlimit r{};
  if (::getrlimit(RLIMIT_NOFILE, &r) != 0 || r.rlim_cur == r.rlim_max) return;
  const rlimit wanted{r.rlim_max, r.rlim_max};
  if (::setrlimit(RLIMIT_NOFILE, &wanted) == 0 || r.rlim_max != RLIM_INFINITY) return;
  const rlimit ceiling{kUnlimitedAsk, r.rlim_max};
  if (r.rlim_cur < kUnlimitedAsk) ::setrlimit(RLIMIT_NOFILE, &ceiling);
}

void ReturnFreeMemory() { ::malloc_trim(0); }

}  // namespace tovi::process

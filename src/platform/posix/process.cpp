#include "platform/process.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tovi::process {
namespace {

// Where the hard limit is "unlimited", the kernel still refuses a soft limit above its own
// ceiling (fs.nr_open, 1,048,576 by default): that much is asked instead.
constexpr rlim_t kUnlimitedAsk = rlim_t{1} << 20;

}  // namespace

void SuppressCriticalErrorBoxes() {}

void OpenMissingStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1) continue;
    // The lowest free number is this one: the ones below are open by now.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

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

// getrandom, else /dev/urandom, behind platform/random.h.
#include "platform/random.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/errors.h"

namespace tovi::machine {
namespace {

[[noreturn]] void Fail(int error) {
  throw EInOutError(error, "No random source: error " + std::to_string(error));
}

// Kernels before 3.17 have no getrandom: the device gives the same bytes.
void FillFromDevice(std::span<std::uint8_t> out) {
  const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(errno);
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      Fail(error);
    }
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

}  // namespace

void FillRandom(std::span<std::uint8_t> out) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::getrandom(out.data() + done, out.size() - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == ENOSYS) return FillFromDevice(out.subspan(done));
    if (n < 0) Fail(errno);
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace tovi::machine

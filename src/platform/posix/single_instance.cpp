#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/single_instance.h"

namespace tovi::instance {

namespace {

std::string PlacePath(const std::string& name) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime == '/') return std::string(runtime) + "/" + name + ".lock";
  // Without a runtime folder the shared /tmp, one file per user (checked to be ours on opening).
  return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

// The place's file, opened, when it is a plain file of this user's with no other name; -1
// otherwise. A hard link planted in the shared /tmp would have the claim truncate and write the
// file it names.
int OpenPlace(const std::string& name, int flags) {
  const int fd = open(PlacePath(name).c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid() || st.st_nlink != 1) {
    close(fd);
    return -1;
  }
  return fd;
}

class FileClaim : public Claim {
 public:
  explicit FileClaim(int fd) : fd_(fd) {}
  ~FileClaim() override {
    if (fd_ >= 0) close(fd_);  // the lock goes with the descriptor
  }
  void Publish(const std::string& address) override {
    if (fd_ < 0) return;
    if (ftruncate(fd_, 0) != 0) return;
    const std::string text = address.substr(0, kMaxPublishedBytes);
    if (pwrite(fd_, text.data(), text.size(), 0) < 0) return;
  }

 private:
  int fd_;  // -1: a claim that guards nothing
};

}  // namespace

std::unique_ptr<Claim> TryClaim(const std::string& name) {
  const int fd = OpenPlace(name, O_RDWR | O_CREAT);
  if (fd < 0) return std::make_unique<FileClaim>(-1);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool held = errno == EWOULDBLOCK;
    close(fd);
    return held ? nullptr : std::make_unique<FileClaim>(-1);
  }
  return std::make_unique<FileClaim>(fd);
}

FirstCopy NotifyFirstCopy(const std::string& name) {
  FirstCopy first;
  const int fd = OpenPlace(name, O_RDONLY);
  if (fd < 0) return first;
  char buffer[kMaxPublishedBytes];
  const ssize_t n = pread(fd, buffer, sizeof buffer, 0);
  close(fd);
  if (n > 0) first.address.assign(buffer, static_cast<std::size_t>(n));
  return first;
}

std::uint32_t SecondStartMessage() { return 0; }

}  // namespace tovi::instance

#include "platform/posix/spawn_quiet.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

extern char** environ;

namespace tovi::posix {

pid_t SpawnQuiet(const std::vector<std::string>& argv, int inputFd, bool ownGroup) {
  if (argv.empty()) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (inputFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, inputFd, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  short flags = POSIX_SPAWN_SETSIGMASK;
  if (ownGroup) {
    posix_spawnattr_setpgroup(&attributes, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attributes, flags);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return rc == 0 ? pid : -1;
}

}  // namespace tovi::posix

// The folders a walk of a whole drive passes by: the kernel's file systems, whose links lead
// round in loops and whose thousands of folders used up a Search's walk of "/" before it came
// to /srv or /mnt, and the installed system; never a folder where a household keeps films.
#include <gtest/gtest.h>

#include "platform/files.h"

namespace tovi::fs {
namespace {

TEST(SystemFolders, TheKernelsAndTheSystemsOwnButNoUsersFolder) {
  for (const char* system : {"/proc/", "/proc/1/root/", "/sys/class/", "/dev/", "/run/user/",
                             "/usr/share/", "/lib/modules/", "/etc/", "/boot/"}) {
    EXPECT_TRUE(IsSystemFolder(system)) << system;
  }
  for (const char* own : {"/", "/srv/media/", "/mnt/disk/", "/media/usb/", "/home/user/Videos/",
                          "/var/media/", "/tmp/", "/procedures/", "/users/", "/devices/"}) {
    EXPECT_FALSE(IsSystemFolder(own)) << own;
  }
}

}  // namespace
}  // namespace tovi::fs

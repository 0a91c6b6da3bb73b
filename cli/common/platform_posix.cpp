// The few calls of platform.h that are more than the system's own on POSIX.
#include <sys/prctl.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/common/platform.h"

namespace trackloom::cli {

bool IdentityOf(const char* path, FileIdentity* identity) {
  struct stat info = {};
  if (::stat(path, &info) != 0) return false;
  identity->device = static_cast<uint64_t>(info.st_dev);
  identity->inode = static_cast<uint64_t>(info.st_ino);
  return true;
}

int NewName(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  if (::link(from, to) == 0) return ::unlink(from);
  if (errno == EEXIST) return -1;
  struct stat info = {};
  if (::lstat(to, &info) == 0) {
    errno = EEXIST;
    return -1;
  }
  return std::rename(from, to);
}

void EndWithParent() {
  const char* parent = std::getenv("TRACKLOOM_PARENT_PID");
  if (parent == nullptr) return;
  const long pid = std::strtol(parent, nullptr, 10);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The parent may have ended before the request was made.
  if (pid > 0 && ::getppid() != pid) ::raise(SIGTERM);
}

std::string ParentPidEntry() { return "TRACKLOOM_PARENT_PID=" + std::to_string(::getpid()); }

}  // namespace trackloom::cli

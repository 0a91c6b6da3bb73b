// The few calls of platform.h that are more than the system's own on POSIX.
#include "cli/common/platform.h"

namespace trackloom::cli {

bool IdentityOf(const char* path, FileIdentity* identity) {
  struct stat info {};
  if (::stat(path, &info) != 0) return false;
  identity->device = static_cast<uint64_t>(info.st_dev);
  identity->inode = static_cast<uint64_t>(info.st_ino);
  return true;
}

}  // namespace trackloom::cli

#include "cli/common/unique_fd.h"

#include <cerrno>

#include "cli/common/platform.h"
#include "cli/common/system_calls.h"

namespace trackloom::cli {

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

bool UniqueFd::Close() {
  const int fd = std::exchange(fd_, -1);
  return fd < 0 || Calls().close(fd) == 0;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const long long n = Calls().write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace trackloom::cli

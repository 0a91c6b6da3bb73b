#include "cli/common/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/output_file.h"

namespace trackloom::cli {

namespace {

bool ProcFdWorks() {
  struct stat info {};
  return ::stat("/proc/self/fd", &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

void TempFile::Create(const std::string& directory, const std::string& prefix,
                      const std::string& suffix) {
  Remove();
  const bool by_fd = ProcFdWorks();
  int fd = -1;
  if (by_fd) fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  std::string pattern = directory + "/" + prefix + "XXXXXX" + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  if (fd < 0) {
    // A file system without unnamed files: a named one, unlinked at once when the
    // descriptor can stand in for its name.
    fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0) {
      throw CliError("cannot create a file in '" + directory + "': " + DescribeError(errno));
    }
    if (!by_fd) {
      ::close(fd);
      path_ = name.data();
      SetTempFileForHardExit(path_.c_str());
      return;
    }
    ::unlink(name.data());
  }
  fd_ = fd;
  path_ = "/proc/self/fd/" + std::to_string(fd);
}

void TempFile::Remove() {
  if (path_.empty()) return;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  } else {
    ::unlink(path_.c_str());
    SetTempFileForHardExit(nullptr);
  }
  path_.clear();
}

}  // namespace trackloom::cli

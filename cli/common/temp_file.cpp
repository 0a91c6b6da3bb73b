#include "cli/common/temp_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/system_calls.h"

namespace trackloom::cli {

namespace {

// mkostemps() on directory/prefixXXXXXXsuffix: the descriptor, and the name in *path.
UniqueFd CreateNamed(const std::string& directory, const std::string& prefix,
                     const std::string& suffix, std::string* path) {
  std::string pattern = directory + "/" + prefix + "XXXXXX" + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  UniqueFd fd(::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC));
  if (!fd) throw CliError("cannot create a file in '" + directory + "': " + DescribeError(errno));
  *path = name.data();
  return fd;
}

}  // namespace

void TempFile::Create(const std::string& directory, const std::string& prefix,
                      const std::string& suffix) {
  Remove();
  CreateNamed(directory, prefix, suffix, &path_);  // closed at once: the name is what is kept
  SetTempFileForHardExit(path_.c_str());
}

bool TempFile::UnnamedFilesHaveShortPaths() {
  struct stat info = {};
  return kMayHaveProcSelfFd && ::stat("/proc/self/fd", &info) == 0;
}

void TempFile::CreateUnnamed(const std::string& directory, const std::string& prefix,
                             const std::string& suffix) {
  Remove();
  if (!UnnamedFilesHaveShortPaths()) {
    Create(directory, prefix, suffix);
    return;
  }
  UniqueFd fd(OpenDescriptor(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (!fd) {
    // A file system without unnamed files: a named one, unlinked at once.
    std::string name;
    fd = CreateNamed(directory, prefix, suffix, &name);
    ::unlink(name.c_str());
  }
  path_ = "/proc/self/fd/" + std::to_string(fd.get());
  fd_ = std::move(fd);
}

void TempFile::Keep(const std::string& final_path) {
  if (Calls().replace_name(path_.c_str(), final_path.c_str()) != 0) {
    throw CliError("cannot rename '" + path_ + "' to '" + final_path +
                   "': " + std::strerror(errno));
  }
  SetTempFileForHardExit(nullptr);
  path_.clear();
}

bool TempFile::KeepAsNew(const std::string& final_path) {
  if (Calls().new_name(path_.c_str(), final_path.c_str()) != 0) {
    if (errno == EEXIST) return false;
    throw CliError("cannot write '" + final_path + "': " + DescribeError(errno));
  }
  SetTempFileForHardExit(nullptr);
  path_.clear();
  return true;
}

void TempFile::Remove() {
  if (path_.empty()) return;
  if (fd_) {
    fd_.Reset();
  } else {
    ::unlink(path_.c_str());
    SetTempFileForHardExit(nullptr);
  }
  path_.clear();
}

}  // namespace trackloom::cli

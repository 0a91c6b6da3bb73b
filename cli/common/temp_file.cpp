#include "cli/common/temp_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"

namespace trackloom::cli {

void TempFile::Create(const std::string& directory, const std::string& prefix,
                      const std::string& suffix) {
  Remove();
  std::string pattern = directory + "/" + prefix + "XXXXXX" + suffix;
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
  if (fd < 0) {
    throw CliError("cannot create a file in '" + directory + "': " + std::strerror(errno));
  }
  close(fd);
  path_ = name.data();
  SetTempFileForHardExit(path_.c_str());
}

void TempFile::Keep(const std::string& final_path) {
  if (std::rename(path_.c_str(), final_path.c_str()) != 0) {
    throw CliError("cannot rename '" + path_ + "' to '" + final_path +
                   "': " + std::strerror(errno));
  }
  SetTempFileForHardExit(nullptr);
  path_.clear();
}

void TempFile::Remove() {
  if (path_.empty()) return;
  unlink(path_.c_str());
  SetTempFileForHardExit(nullptr);
  path_.clear();
}

}  // namespace trackloom::cli

#include "cli/common/read_once.h"

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

// The descriptor FFmpeg's "pipe:" and "pipe:N" name; -1 for anything else.
int PipeDescriptor(const std::string& input) {
  if (input == "-" || input == "pipe:") return STDIN_FILENO;
  if (input.rfind("pipe:", 0) != 0) return -1;
  char* end = nullptr;
  const long fd = std::strtol(input.c_str() + 5, &end, 10);
  return *end == '\0' && fd >= 0 && fd < 1 << 20 ? static_cast<int>(fd) : -1;
}

// Closes a descriptor this file opened, never one it was handed.
struct Source {
  int fd = -1;
  bool owned = false;
  ~Source() {
    if (owned) ::close(fd);
  }
};

CliError CopyFailed(const std::string& input, const std::string& directory, int error) {
  return CliError("cannot keep a copy of '" + input + "' in '" + directory +
                  "': " + DescribeError(error));
}

}  // namespace

bool IsReadOnce(const std::string& input) {
  if (PipeDescriptor(input) >= 0) return true;
  struct stat st {};
  return stat(input.c_str(), &st) == 0 &&
         (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
}

bool IsDeviceFile(const std::string& input) {
  struct stat st {};
  return PipeDescriptor(input) < 0 && stat(input.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool CopyReadOnceInput(const std::string& input, const std::string& directory, TempFile& copy,
                       const std::function<void(int64_t bytes)>& progress) {
  Source source;
  source.fd = PipeDescriptor(input);
  if (source.fd < 0) {
    source.fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (source.fd < 0) throw CliError("cannot read '" + input + "': " + DescribeError(errno));
    source.owned = true;
  }
  copy.CreateUnnamed(directory, kReadOnceCopyPrefix, "");
  const int out = ::open(copy.path().c_str(), O_WRONLY | O_CLOEXEC);
  if (out < 0) throw CopyFailed(input, directory, errno);
  std::vector<char> buffer(1 << 20);
  int64_t total = 0;
  for (;;) {
    const ssize_t n = ::read(source.fd, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR && !StopRequested()) continue;
      const int error = errno;
      ::close(out);
      if (StopRequested()) return false;
      throw CliError("cannot read '" + input + "': " + DescribeError(error));
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, buffer.data() + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        const int error = w < 0 ? errno : ENOSPC;
        ::close(out);
        throw CopyFailed(input, directory, error);
      }
      done += w;
    }
    total += n;
    if (progress) progress(total);
  }
  if (::close(out) != 0) throw CopyFailed(input, directory, errno);
  return true;
}

}  // namespace trackloom::cli

#include "cli/common/read_once.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"

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

CliError CopyFailed(const std::string& input, const std::string& directory, int error) {
  return CliError("cannot keep a copy of '" + input + "' in '" + directory +
                  "': " + DescribeError(error));
}

// How streams without sound begin: YUV4MPEG2, and pictures piped one after another.
constexpr std::string_view kSoundlessStarts[] = {
    "YUV4MPEG2", std::string_view("\x89PNG\r\n\x1a\n", 8), "\xff\xd8\xff"};
constexpr size_t kHeadBytes = 9;

}  // namespace

bool IsReadOnce(const std::string& input) {
  if (PipeDescriptor(input) >= 0) return true;
  struct stat st = {};
  return stat(input.c_str(), &st) == 0 &&
         (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
}

bool IsDeviceFile(const std::string& input) {
  struct stat st = {};
  return PipeDescriptor(input) < 0 && stat(input.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

ReadOnceInput::ReadOnceInput(const std::string& input) : input_(input) {
  fd_ = PipeDescriptor(input);
  if (fd_ >= 0) return;
  opened_.Reset(OpenDescriptor(input.c_str(), O_RDONLY | O_CLOEXEC));
  if (!opened_) throw CliError("cannot read '" + input + "': " + DescribeError(errno));
  fd_ = opened_.get();
}

ReadOnceInput::~ReadOnceInput() {
  if (relay_.joinable()) {
    const char stop = 0;
    if (::write(stop_write_.get(), &stop, 1) < 0) {
      // The pipe is new and empty: a byte always fits.
    }
    relay_.join();
  }
}

bool ReadOnceInput::Soundless() {
  char buffer[kHeadBytes];
  while (head_.size() < kHeadBytes) {
    const ssize_t n = ::read(fd_, buffer, kHeadBytes - head_.size());
    if (n == 0) break;
    if (n < 0 && errno == EINTR && !StopRequested()) continue;
    if (n < 0 && StopRequested()) throw CliError("interrupted");
    if (n < 0) throw CliError("cannot read '" + input_ + "': " + DescribeError(errno));
    head_.append(buffer, static_cast<size_t>(n));
  }
  for (std::string_view start : kSoundlessStarts) {
    if (head_.size() >= start.size() && head_.compare(0, start.size(), start) == 0) return true;
  }
  return false;
}

bool ReadOnceInput::CopyTo(const std::string& directory, TempFile& copy,
                           const std::function<void(int64_t bytes)>& progress) {
  copy.CreateUnnamed(directory, kReadOnceCopyPrefix, "");
  UniqueFd out(OpenDescriptor(copy.path().c_str(), O_WRONLY | O_CLOEXEC));
  if (!out) throw CopyFailed(input_, directory, errno);
  int64_t total = 0;
  const auto keep = [&](const char* data, size_t size) {
    if (!WriteAll(out.get(), data, size)) throw CopyFailed(input_, directory, errno);
    total += static_cast<int64_t>(size);
    if (progress) progress(total);
  };
  keep(head_.data(), head_.size());
  std::vector<char> buffer(1 << 20);
  for (;;) {
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR && !StopRequested()) continue;
      const int error = errno;
      if (StopRequested()) return false;
      throw CliError("cannot read '" + input_ + "': " + DescribeError(error));
    }
    keep(buffer.data(), static_cast<size_t>(n));
  }
  if (!out.Close()) throw CopyFailed(input_, directory, errno);
  return true;
}

bool CopyReadOnceInput(const std::string& input, const std::string& directory, TempFile& copy,
                       const std::function<void(int64_t bytes)>& progress) {
  ReadOnceInput source(input);
  return source.CopyTo(directory, copy, progress);
}

}  // namespace trackloom::cli

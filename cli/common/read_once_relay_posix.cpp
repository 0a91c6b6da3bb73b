// Handing a read-once input on as it comes, on POSIX: a pipe FFmpeg opens by its
// /proc/self/fd name, fed by a thread that stops when the stop pipe is written.
#include <poll.h>

#include <cerrno>
#include <csignal>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/read_once.h"

namespace trackloom::cli {
namespace {

// Writes all of data to out (non-blocking) unless stop becomes readable first.
bool WriteUnlessStopped(int out, int stop, const char* data, size_t size) {
  while (size > 0) {
    pollfd fds[2] = {{out, POLLOUT, 0}, {stop, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents != 0) return false;
    const ssize_t w = ::write(out, data, size);
    if (w < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (w <= 0) return false;  // FFmpeg closed its end
    data += w;
    size -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

std::string ReadOnceInput::Relay() {
  int data[2], stop[2];
  if (::pipe2(data, O_CLOEXEC) != 0)
    throw CliError("cannot pass '" + input_ + "' on: " + DescribeError(errno));
  pipe_read_.Reset(data[0]);
  pipe_write_.Reset(data[1]);
  if (::pipe2(stop, O_CLOEXEC) != 0)
    throw CliError("cannot pass '" + input_ + "' on: " + DescribeError(errno));
  stop_read_.Reset(stop[0]);
  stop_write_.Reset(stop[1]);
  ::fcntl(pipe_write_.get(), F_SETFL, O_NONBLOCK);
  // The relay takes no signal: Ctrl-C reaches the thread that stops the work, and a
  // pipe FFmpeg closed gives the relay EPIPE rather than ending the command.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  relay_ = std::thread([this] { RelayLoop(); });
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return "/proc/self/fd/" + std::to_string(pipe_read_.get());
}

void ReadOnceInput::RelayLoop() {
  bool open = WriteUnlessStopped(pipe_write_.get(), stop_read_.get(), head_.data(), head_.size());
  std::vector<char> buffer(1 << 16);
  while (open) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_read_.get(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents != 0) break;
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;  // the end (a read error ends the pictures there too)
    open = WriteUnlessStopped(pipe_write_.get(), stop_read_.get(), buffer.data(),
                              static_cast<size_t>(n));
  }
  // FFmpeg sees the end.
  pipe_write_.Reset();
}

}  // namespace trackloom::cli

#include "cli/common/progress_feed.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/common/platform.h"

#ifdef _WIN32
#include <io.h>
#define TRACKLOOM_WRITE _write
#else
#define TRACKLOOM_WRITE write
#endif

namespace trackloom::cli {

namespace {

// The descriptor from the environment, read once; -1 when there is none.
int FeedDescriptor() {
  static const int fd = [] {
    const char* text = std::getenv("TRACKLOOM_PROGRESS_FD");
    if (text == nullptr || text[0] < '0' || text[0] > '9') return -1;
    const long n = std::strtol(text, nullptr, 10);
    return n > 2 && n < 1024 ? static_cast<int>(n) : -1;
  }();
  return fd;
}

}  // namespace

void FeedProgress(int64_t done, int64_t total) {
  const int fd = FeedDescriptor();
  if (fd < 0) return;
  using Clock = std::chrono::steady_clock;
  static Clock::time_point last;
  const Clock::time_point now = Clock::now();
  if (done > 1 && done != total && now - last < std::chrono::milliseconds(100)) return;
  last = now;
  char line[64];
  const int n = std::snprintf(line, sizeof line, "%lld %lld\n", static_cast<long long>(done),
                              static_cast<long long>(total));
  // Nobody reading any more is no reason to stop the work.
  if (TRACKLOOM_WRITE(fd, line, static_cast<unsigned>(n)) < 0) return;
}

}  // namespace trackloom::cli

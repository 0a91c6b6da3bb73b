// The system calls whose failures decide what is left on disk (a write, a close, a
// rename) made through one table, so that a unit test can have them fail as a full
// disk, a signal, a failing disk or a lost race would, and check what the code then
// does. Everything else calls the system directly.
#pragma once

#include <cstddef>
#include <functional>

namespace trackloom::cli {

struct SystemCalls {
  std::function<long long(int fd, const void* data, size_t size)> write;
  std::function<int(int fd)> close;
  // Renames, replacing what is at to (ReplaceName in platform.h).
  std::function<int(const char* from, const char* to)> replace_name;
  // Renames only where nothing is at to, failing with EEXIST (NewName in platform.h).
  std::function<int(const char* from, const char* to)> new_name;
};

// The calls in use: the system's own unless a test has put others in their place.
const SystemCalls& Calls();

// While it lives, the calls given in place of the system's; those left empty stay the
// system's. For tests.
class ScopedSystemCalls {
 public:
  explicit ScopedSystemCalls(SystemCalls calls);
  ~ScopedSystemCalls();
  ScopedSystemCalls(const ScopedSystemCalls&) = delete;
  ScopedSystemCalls& operator=(const ScopedSystemCalls&) = delete;

 private:
  SystemCalls saved_;
};

}  // namespace trackloom::cli

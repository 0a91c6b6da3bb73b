// A file that lives in memory (memfd) and has a path, for readers that take a path:
// each input is written over it, with no file system and nothing to clean up.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace trackloom::fuzz {

class MemoryFile {
 public:
  MemoryFile() : fd_(memfd_create("fuzz-input", MFD_CLOEXEC)) {
    if (fd_ < 0) std::abort();
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  ~MemoryFile() { close(fd_); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // The file now holds exactly these bytes.
  // Written over the old bytes and then cut, so the pages stay allocated.
  void Set(const uint8_t* data, size_t size) {
    if (size > 0 && pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0) std::abort();
  }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace trackloom::fuzz

// The one owner of a file descriptor: closed when the owner goes, whatever way the
// code leaves; and the one loop that writes a whole buffer through one.
#pragma once

#include <cstddef>
#include <utility>

namespace trackloom::cli {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held (its close error is not asked for), then holds fd.
  void Reset(int fd = -1);
  // Closes it and says whether the close succeeded (a write's last error on some file
  // systems is told only here); false, with errno, otherwise.
  bool Close();

 private:
  int fd_ = -1;
};

// Writes all size bytes, going on after a signal or a short write; false, with errno
// set (ENOSPC for a write that could put nothing), when they cannot all be written.
bool WriteAll(int fd, const void* data, size_t size);

}  // namespace trackloom::cli

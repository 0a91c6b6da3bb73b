// The file object on POSIX systems: descriptors, an advisory lock for exclusive
// use, and errno as the reason of a failure.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "core/wave_file.h"

namespace trackloom {

namespace {
bool Failed() { return WaveFile::RecordFailure(errno); }

WaveFile::Handle Refuse(int fd, int error) {
  ::close(fd);
  WaveFile::RecordFailure(error);
  return -1;
}

// Exclusive use, as on Windows: a second open of a file held here fails. Only a
// regular file is taken, and O_NONBLOCK keeps a FIFO planted under the name from
// holding the open until someone writes to it.
WaveFile::Handle OpenExclusive(const char* path, int flags) {
  const int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    Failed();
    return -1;
  }
  struct stat info = {};
  if (::fstat(fd, &info) != 0) return Refuse(fd, errno);
  if (!S_ISREG(info.st_mode)) return Refuse(fd, WaveFile::kNotRegularFile);
  // Written through another name, a hard link would change a file elsewhere.
  if ((flags & O_ACCMODE) != O_RDONLY && info.st_nlink > 1) {
    return Refuse(fd, WaveFile::kNotRegularFile);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return Refuse(fd, errno);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}
}  // namespace

WaveFile* WaveFile::Adopt(Handle handle) {
  WaveFile* file = new (std::nothrow) WaveFile(handle);
  if (file == nullptr) Refuse(handle, ENOMEM);
  return file;
}

WaveFile* WaveFile::CreateForWrite(const char* path) {
  // A link planted under the track's name is refused rather than followed.
  // Truncate only once the lock is held, so a file someone else holds stays whole.
  const int fd = OpenExclusive(path, O_WRONLY | O_CREAT | O_NOFOLLOW);
  if (fd < 0) return nullptr;
  if (::ftruncate(fd, 0) != 0) {
    Refuse(fd, errno);
    return nullptr;
  }
  return Adopt(fd);
}

WaveFile* WaveFile::OpenForRead(const char* path) {
  const int fd = OpenExclusive(path, O_RDONLY);
  return fd < 0 ? nullptr : Adopt(fd);
}

bool WaveFile::Remove(const char* path) { return ::unlink(path) == 0; }

bool WaveFile::Close() {
  if (handle_ < 0) return true;
  const int fd = handle_;
  handle_ = -1;
  // The descriptor is gone whatever close() says, so it is never closed twice (not
  // even after EINTR); a failure means writes may not have reached the disk (NFS
  // reports a full disk or quota only here).
  return ::close(fd) == 0 || Failed();
}

bool WaveFile::Write(const void* buffer, uint32_t count) {
  if (handle_ < 0) return false;
  const auto* at = static_cast<const uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t written = ::write(handle_, at, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return Failed();
    }
    if (written == 0) return RecordFailure(ENOSPC);
    at += written;
    count -= static_cast<uint32_t>(written);
  }
  return true;
}

bool WaveFile::Read(void* buffer, uint32_t count) {
  if (handle_ < 0) return false;
  auto* at = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    const ssize_t got = ::read(handle_, at, count);
    if (got < 0) {
      if (errno == EINTR) continue;
      return Failed();
    }
    if (got == 0) return false;  // end of file before count bytes
    at += got;
    count -= static_cast<uint32_t>(got);
  }
  return true;
}

int64_t WaveFile::Position() {
  if (handle_ < 0) return -1;
  const off_t at = ::lseek(handle_, 0, SEEK_CUR);
  if (at < 0) Failed();
  return static_cast<int64_t>(at);
}

bool WaveFile::SeekTo(uint32_t offset) {
  return handle_ >= 0 && (::lseek(handle_, static_cast<off_t>(offset), SEEK_SET) >= 0 || Failed());
}

bool WaveFile::TruncateTo(int64_t length) {
  if (handle_ < 0) return false;
  return (::ftruncate(handle_, static_cast<off_t>(length)) == 0 &&
          ::lseek(handle_, static_cast<off_t>(length), SEEK_SET) >= 0) ||
         Failed();
}

}  // namespace trackloom

#include "core/wave_file.h"

#include <cstring>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace trackloom {

namespace {

// Set by every failing system call here, read by LastError(); per thread, as errno.
thread_local int g_last_error = 0;

wav::Format FormatOf(int32_t rate, int32_t bits, int32_t channels) {
  return {static_cast<uint32_t>(rate), static_cast<uint16_t>(bits),
          static_cast<uint16_t>(channels)};
}

}  // namespace

#ifdef _WIN32

namespace {
bool Failed() {
  g_last_error = static_cast<int>(GetLastError());
  return false;
}

WaveFile::Handle Wrap(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) Failed();
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}
}  // namespace

WaveFile* WaveFile::CreateForWrite(const char* path) {
  HANDLE h = Wrap(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h == nullptr) return nullptr;
  WaveFile* file = new (std::nothrow) WaveFile(h);
  if (file == nullptr) {
    g_last_error = ERROR_NOT_ENOUGH_MEMORY;
    CloseHandle(h);
  }
  return file;
}

WaveFile* WaveFile::OpenForRead(const char* path) {
  HANDLE h = Wrap(
      CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h == nullptr) return nullptr;
  WaveFile* file = new (std::nothrow) WaveFile(h);
  if (file == nullptr) {
    g_last_error = ERROR_NOT_ENOUGH_MEMORY;
    CloseHandle(h);
  }
  return file;
}

bool WaveFile::Remove(const char* path) { return DeleteFileA(path) != 0; }

void WaveFile::Close() {
  if (handle_ != nullptr) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
}

bool WaveFile::Write(const void* buffer, uint32_t count) {
  DWORD written = 0;
  if (handle_ == nullptr) return false;
  if (!WriteFile(handle_, buffer, count, &written, nullptr)) return Failed();
  if (written != count) {
    g_last_error = ERROR_DISK_FULL;  // a short write without an error: no room left
    return false;
  }
  return true;
}

bool WaveFile::Read(void* buffer, uint32_t count) {
  DWORD read = 0;
  if (handle_ == nullptr) return false;
  if (!ReadFile(handle_, buffer, count, &read, nullptr)) return Failed();
  return read == count;
}

int64_t WaveFile::Position() {
  if (handle_ == nullptr) return -1;
  LONG high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(handle_, 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) {
    Failed();
    return -1;
  }
  return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | low);
}

bool WaveFile::SeekTo(uint32_t offset) {
  if (handle_ == nullptr) return false;
  if (SetFilePointer(handle_, static_cast<LONG>(offset), nullptr, FILE_BEGIN) ==
      INVALID_SET_FILE_POINTER) {
    return Failed();
  }
  return true;
}

bool WaveFile::TruncateTo(int64_t length) {
  if (handle_ == nullptr) return false;
  LONG high = static_cast<LONG>(length >> 32);
  if (SetFilePointer(handle_, static_cast<LONG>(length & 0xFFFFFFFF), &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    return Failed();
  }
  return SetEndOfFile(handle_) != 0 || Failed();
}

#else  // POSIX

namespace {
bool Failed() {
  g_last_error = errno;
  return false;
}

WaveFile::Handle Refuse(int fd, int error) {
  ::close(fd);
  g_last_error = error;
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
  struct stat info {};
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

WaveFile* WaveFile::CreateForWrite(const char* path) {
  // A link planted under the track's name is refused rather than followed.
  // Truncate only once the lock is held, so a file someone else holds stays whole.
  const int fd = OpenExclusive(path, O_WRONLY | O_CREAT | O_NOFOLLOW);
  if (fd < 0) return nullptr;
  if (::ftruncate(fd, 0) != 0) {
    Refuse(fd, errno);
    return nullptr;
  }
  WaveFile* file = new (std::nothrow) WaveFile(fd);
  if (file == nullptr) Refuse(fd, ENOMEM);
  return file;
}

WaveFile* WaveFile::OpenForRead(const char* path) {
  const int fd = OpenExclusive(path, O_RDONLY);
  if (fd < 0) return nullptr;
  WaveFile* file = new (std::nothrow) WaveFile(fd);
  if (file == nullptr) Refuse(fd, ENOMEM);
  return file;
}

bool WaveFile::Remove(const char* path) { return ::unlink(path) == 0; }

void WaveFile::Close() {
  if (handle_ >= 0) {
    ::close(handle_);
    handle_ = -1;
  }
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
    if (written == 0) {
      g_last_error = ENOSPC;
      return false;
    }
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

#endif

WaveFile::~WaveFile() { Close(); }

int WaveFile::LastError() { return g_last_error; }

bool WaveFile::WriteHeader(int32_t rate, int32_t bits, int32_t channels) {
  uint8_t header[kWaveHeaderSize];
  wav::BuildUnfinishedHeader(header,
                             FormatOf(rate, bits, channels));  // sizes patched by FinishHeader
  return Write(header, kWaveHeaderSize);
}

bool WaveFile::CheckHeader(int32_t rate, int32_t bits, int32_t channels) {
  uint8_t header[kWaveHeaderSize];
  if (!Read(header, kWaveHeaderSize)) return false;
  return wav::CheckHeader(header, FormatOf(rate, bits, channels));
}

void WaveFile::FinishHeader() {
  const int64_t length = Position();
  uint8_t field[4];
  wav::PutLe32(field, static_cast<uint32_t>(length - 8));
  SeekTo(wav::kRiffSizeOffset);
  Write(field, 4);
  wav::PutLe32(field, static_cast<uint32_t>(length - kWaveHeaderSize));
  SeekTo(wav::kDataSizeOffset);
  Write(field, 4);
  SeekTo(kWaveHeaderSize);
}

void CloseAndFree(WaveFile*& file) {
  delete file;  // the destructor closes the handle
  file = nullptr;
}

}  // namespace trackloom

// The POSIX calls of platform.h made of Win32 ones. Names are UTF-8 (the program's
// manifest makes it the code page of every "A" call too); the calls that decide
// whether a name is followed take it as UTF-16 themselves.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <string>

#include "cli/common/platform.h"

namespace {

std::wstring Wide(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (n <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide.data(), n);
  wide.resize(static_cast<size_t>(n - 1));
  return wide;
}

int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_SHARING_VIOLATION:  // another program has it open without sharing it
    case ERROR_LOCK_VIOLATION:
      return EWOULDBLOCK;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return EINVAL;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    default:
      return EIO;
  }
}

int Fail(DWORD error) {
  errno = ErrnoOf(error);
  return -1;
}

// A wildcard that matched nothing reaches the command as typed ("tracks\*.wav"). No
// file can have such a name: it is "no such file", as an unmatched pattern is on Linux.
int FailFor(const char* path, DWORD error) {
  const bool name_refused = error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME;
  if (name_refused && std::strpbrk(path, "*?") != nullptr) error = ERROR_FILE_NOT_FOUND;
  return Fail(error);
}

HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

DWORD AccessOf(int flags) {
  switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY:
      return GENERIC_WRITE;
    case O_RDWR:
      return GENERIC_READ | GENERIC_WRITE;
    default:
      return GENERIC_READ;
  }
}

// Truncation is left until the handle is known not to be a reparse point, so it can
// never empty the target of a link.
DWORD DispositionOf(int flags) {
  if ((flags & O_CREAT) == 0) return OPEN_EXISTING;
  return (flags & O_EXCL) != 0 ? CREATE_NEW : OPEN_ALWAYS;
}

// A random-enough six letters for mkdtemp() and mkostemps(): the time, the process
// and a counter, so two processes and two calls differ.
void FillUnique(char* x) {
  static std::atomic<unsigned> counter{0};
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  unsigned long long seed = GetTickCount64() ^
                            (static_cast<unsigned long long>(GetCurrentProcessId()) << 20) ^
                            (static_cast<unsigned long long>(++counter) * 2654435761u);
  for (int i = 0; i < 6; ++i) {
    x[i] = kLetters[seed % 36];
    seed = seed / 36 + 0x9E3779B97F4A7C15ull * static_cast<unsigned long long>(i + 1);
  }
}

// Where XXXXXX is in pattern (before suffix_length bytes), or null.
char* UniquePart(char* pattern, int suffix_length) {
  const size_t length = std::strlen(pattern);
  if (suffix_length < 0 || length < 6 + static_cast<size_t>(suffix_length)) return nullptr;
  char* x = pattern + length - suffix_length - 6;
  return std::memcmp(x, "XXXXXX", 6) == 0 ? x : nullptr;
}

}  // namespace

namespace trackloom::cli {

int OpenDescriptor(const char* path, int flags, mode_t mode) {
  if ((flags & O_TMPFILE) != 0) {
    errno = EOPNOTSUPP;
    return -1;
  }
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if ((flags & O_CREAT) != 0 && (mode & 0200) == 0) attributes = FILE_ATTRIBUTE_READONLY;
  if ((flags & O_NOFOLLOW) != 0) attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
  if ((flags & O_DIRECTORY) != 0) attributes |= FILE_FLAG_BACKUP_SEMANTICS;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, (flags & O_CLOEXEC) == 0};
  const HANDLE h = CreateFileW(Wide(path).c_str(), AccessOf(flags),
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                               DispositionOf(flags), attributes, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    // Windows refuses a directory opened as a file as "access denied"; Linux says
    // EISDIR, which the messages tell apart.
    const DWORD error = GetLastError();
    const DWORD kind = GetFileAttributesW(Wide(path).c_str());
    const bool directory = kind != INVALID_FILE_ATTRIBUTES && (kind & FILE_ATTRIBUTE_DIRECTORY);
    if (error == ERROR_ACCESS_DENIED && directory) {
      errno = EISDIR;
      return -1;
    }
    return FailFor(path, error);
  }
  BY_HANDLE_FILE_INFORMATION info{};
  int error = 0;
  if (!GetFileInformationByHandle(h, &info)) {
    error = ErrnoOf(GetLastError());
  } else if ((flags & O_NOFOLLOW) != 0 && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    error = ELOOP;  // a symbolic link or junction: never written through
  } else if ((flags & O_DIRECTORY) != 0 && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = ENOTDIR;
  } else if ((flags & O_TRUNC) != 0 && !SetEndOfFile(h)) {
    error = ErrnoOf(GetLastError());
  }
  if (error != 0) {
    CloseHandle(h);
    errno = error;
    return -1;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags & (O_APPEND | O_RDONLY));
  if (fd < 0) CloseHandle(h);
  return fd;
}

bool IdentityOf(const char* path, FileIdentity* identity) {
  const HANDLE h =
      CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (!known) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->inode = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return true;
}

int ReplaceName(const char* from, const char* to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING)
             ? 0
             : Fail(GetLastError());
}

int NewName(const char* from, const char* to) {
  return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), 0) ? 0 : Fail(GetLastError());
}

void UseUtf8Console() {
  SetConsoleOutputCP(CP_UTF8);
  SetConsoleCP(CP_UTF8);
}

void ReadStandardInputAsBytes() { _setmode(STDIN_FILENO, _O_BINARY); }

int ErrnoOfFileError(int error) { return error > 0 ? ErrnoOf(static_cast<DWORD>(error)) : error; }

// The job object the parent puts its children in ends them with it.
void EndWithParent() {}

std::string ParentPidEntry() {
  return "TRACKLOOM_PARENT_PID=" + std::to_string(GetCurrentProcessId());
}

}  // namespace trackloom::cli

int lstat(const char* path, struct stat* info) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data))
    return FailFor(path, GetLastError());
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    if (::stat(path, info) != 0) return -1;
    // The C runtime's stat() says 1 link always; a file's other names (hard links)
    // are known only from a handle, as fstat() has them.
    const HANDLE h =
        CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION file{};
    if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &file)) {
      info->st_nlink = static_cast<short>(file.nNumberOfLinks);
    }
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return 0;
  }
  *info = {};
  info->st_mode = S_IFLNK | 0777;
  info->st_nlink = 1;
  return 0;
}

// A directory cannot carry a byte-range lock: its lock is a hidden file in it, which
// Windows removes when the last handle to it closes. It is held until the process
// ends (closing the directory's descriptor cannot reach it), which for the command
// is when the work that took it is over.
int LockDirectory(HANDLE directory) {
  std::wstring path(32768, L'\0');
  const DWORD n = GetFinalPathNameByHandleW(directory, path.data(), static_cast<DWORD>(path.size()),
                                            FILE_NAME_NORMALIZED);
  if (n == 0 || n >= path.size()) return Fail(GetLastError());
  path.resize(n);
  const HANDLE lock =
      CreateFileW((path + L"\\.trackloom-lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  // Access denied: the holder is ending and its lock file is being removed.
  if (lock == INVALID_HANDLE_VALUE && GetLastError() != ERROR_ACCESS_DENIED)
    return Fail(GetLastError());
  OVERLAPPED first{};
  if (lock != INVALID_HANDLE_VALUE &&
      LockFileEx(lock, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &first))
    return 0;
  if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
  errno = EWOULDBLOCK;
  return -1;
}

// Windows' locks are mandatory: a lock on the file's bytes would stop other
// programs reading it. The lock is on one byte far past any end instead, which only
// other lockers see, as with flock().
int flock(int fd, int operation) {
  const HANDLE h = HandleOf(fd);
  BY_HANDLE_FILE_INFORMATION info{};
  if ((operation & LOCK_EX) != 0 && GetFileInformationByHandle(h, &info) &&
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return LockDirectory(h);
  OVERLAPPED far_byte{};
  far_byte.Offset = 0xFFFFFFFEu;
  far_byte.OffsetHigh = 0x7FFFFFFFu;
  if ((operation & LOCK_UN) != 0)
    return UnlockFileEx(h, 0, 1, 0, &far_byte) ? 0 : Fail(GetLastError());
  DWORD how = (operation & LOCK_EX) != 0 ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if ((operation & LOCK_NB) != 0) how |= LOCKFILE_FAIL_IMMEDIATELY;
  if (LockFileEx(h, how, 0, 1, 0, &far_byte)) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) {
    errno = EWOULDBLOCK;
    return -1;
  }
  return Fail(error);
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
  DWORD done = 0;
  if (ReadFile(HandleOf(fd), buffer, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &done,
               &at))
    return static_cast<ssize_t>(done);
  const DWORD error = GetLastError();
  return error == ERROR_HANDLE_EOF ? 0 : Fail(error);
}

ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset) & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(static_cast<unsigned long long>(offset) >> 32);
  DWORD done = 0;
  if (WriteFile(HandleOf(fd), buffer, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &done,
                &at))
    return static_cast<ssize_t>(done);
  return Fail(GetLastError());
}

int fsync(int fd) { return FlushFileBuffers(HandleOf(fd)) ? 0 : Fail(GetLastError()); }

int fcntl(int, int, ...) { return 0; }

int fchmod(int, mode_t) { return 0; }

int link(const char* existing, const char* path) {
  return CreateHardLinkW(Wide(path).c_str(), Wide(existing).c_str(), nullptr)
             ? 0
             : Fail(GetLastError());
}

char* mkdtemp(char* pattern) {
  char* x = UniquePart(pattern, 0);
  if (x == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    FillUnique(x);
    if (CreateDirectoryW(Wide(pattern).c_str(), nullptr)) return pattern;
    if (GetLastError() != ERROR_ALREADY_EXISTS) {
      Fail(GetLastError());
      return nullptr;
    }
  }
  errno = EEXIST;
  return nullptr;
}

int mkostemps(char* pattern, int suffix_length, int flags) {
  char* x = UniquePart(pattern, suffix_length);
  if (x == nullptr) {
    errno = EINVAL;
    return -1;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    FillUnique(x);
    const int fd = trackloom::cli::OpenDescriptor(pattern, O_RDWR | O_CREAT | O_EXCL | flags, 0600);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

void* memmem(const void* haystack, size_t haystack_size, const void* needle, size_t needle_size) {
  const char* begin = static_cast<const char*>(haystack);
  const char* end = begin + haystack_size;
  const char* wanted = static_cast<const char*>(needle);
  const char* found = std::search(begin, end, wanted, wanted + needle_size);
  return found == end && needle_size > 0 ? nullptr : const_cast<char*>(found);
}

long sysconf(int name) {
  if (name != _SC_NPROCESSORS_ONLN) {
    errno = EINVAL;
    return -1;
  }
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  return static_cast<long>(system.dwNumberOfProcessors);
}

// A name's part is at most 255 UTF-16 units; a whole path, without the long path
// setting the user may not have turned on, MAX_PATH.
long pathconf(const char*, int name) {
  if (name == _PC_NAME_MAX) return 255;
  if (name == _PC_PATH_MAX) return MAX_PATH;
  errno = EINVAL;
  return -1;
}

int statvfs(const char* path, struct statvfs* space) {
  ULARGE_INTEGER available{}, total{}, free{};
  if (!GetDiskFreeSpaceExW(Wide(path).c_str(), &available, &total, &free))
    return Fail(GetLastError());
  *space = {};
  space->f_bsize = space->f_frsize = 4096;
  space->f_blocks = total.QuadPart / 4096;
  space->f_bfree = free.QuadPart / 4096;
  space->f_bavail = available.QuadPart / 4096;
  return 0;
}

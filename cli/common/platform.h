// The system calls the command makes on files, descriptors and processes. On Linux
// this is the system's own headers and nothing more. On Windows the same POSIX names
// are declared here and made of Win32 calls (platform_win32.cpp), with the meaning
// the command relies on kept: a file opened with O_NOFOLLOW is never reached through
// a symbolic link or junction, flock() is a real exclusive lock, and every descriptor
// is binary. Where Windows has nothing like it (device numbers, file modes), the
// answer is the harmless one, said beside the declaration.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#ifndef _WIN32
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#else
#include <io.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

// Flags MinGW's open() lacks, on bits its own flags leave free. OpenDescriptor() acts
// on them; O_CLOEXEC is Windows' "not inherited by child processes".
#define O_NOFOLLOW 0x00100000
#define O_NONBLOCK 0x00200000
#define O_DIRECTORY 0x00400000
// Unnamed files: none on Windows; OpenDescriptor() says EOPNOTSUPP, as Linux does on a
// file system without them.
#define O_TMPFILE 0x00800000
#define O_CLOEXEC _O_NOINHERIT

// What lstat() reports for a symbolic link or junction (any reparse point).
#ifndef S_IFLNK
#define S_IFLNK 0xA000
#endif
#ifndef S_ISLNK
#define S_ISLNK(m) ((S_IFMT & (m)) == S_IFLNK)
#endif
#ifndef S_ISSOCK
#define S_ISSOCK(m) 0
#endif

#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8

#define F_GETFL 3
#define F_SETFL 4

#define _SC_NPROCESSORS_ONLN 84
#define _PC_NAME_MAX 3
#define _PC_PATH_MAX 4

struct statvfs {
  unsigned long f_bsize;
  unsigned long f_frsize;
  unsigned long long f_blocks;
  unsigned long long f_bfree;
  unsigned long long f_bavail;
};

// lstat(): stat() of the name itself; a reparse point is S_IFLNK.
int lstat(const char* path, struct stat* info);
// flock(): LockFileEx on the whole file (a directory: on a lock file's worth of it,
// see platform_win32.cpp). EWOULDBLOCK when another process holds it.
int flock(int fd, int operation);
ssize_t pread(int fd, void* buffer, size_t size, off_t offset);
ssize_t pwrite(int fd, const void* buffer, size_t size, off_t offset);
int fsync(int fd);
// The descriptor's flags cannot be changed on Windows; nothing the command asks of
// them (O_NONBLOCK on a regular file) has an effect there.
int fcntl(int fd, int command, ...);
int fchmod(int fd, mode_t mode);
int link(const char* existing, const char* path);
char* mkdtemp(char* pattern);
int mkostemps(char* pattern, int suffix_length, int flags);
void* memmem(const void* haystack, size_t haystack_size, const void* needle, size_t needle_size);
long sysconf(int name);
long pathconf(const char* path, int name);
// As POSIX has it, the function and the structure share the name.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
int statvfs(const char* path, struct statvfs* space);
#pragma GCC diagnostic pop
// No device numbers on Windows: every file is on "device 0".
inline unsigned major(dev_t) { return 0; }
inline unsigned minor(dev_t) { return 0; }
// Winsock's number for it: no file call on Windows gives it, but the messages name it.
#ifndef EDQUOT
#define EDQUOT 10069
#endif
#endif

namespace trackloom::cli {

// Which file a name leads to: the device and inode (on Windows, where stat() says 0
// for both, the volume's serial number and the file's index), so two names of one
// file are told apart from two files.
struct FileIdentity {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};
// False when the name leads nowhere that can be looked at.
bool IdentityOf(const char* path, FileIdentity* identity);

// A program started by another of ours (the studio's jobs) ends with it: with
// TRACKLOOM_PARENT_PID in the environment, the process is sent SIGTERM, which the
// commands answer as Ctrl-C, when that parent ends, however it ends (kill -9 too).
// Nothing otherwise. On Windows the parent's job object does it.
void EndWithParent();

// The environment entry that asks a child started now to end with this process.
std::string ParentPidEntry();

// Whether /proc/self/fd/N can name this process's descriptor N (where /proc is
// mounted). Never on Windows: under wine the host's /proc is visible, but it names
// the descriptors of wine's own process.
#ifdef _WIN32
inline constexpr bool kMayHaveProcSelfFd = false;
#else
inline constexpr bool kMayHaveProcSelfFd = true;
#endif

// open(2). On Windows also O_BINARY always, O_NOFOLLOW refusing a reparse point
// (ELOOP, as Linux), and O_DIRECTORY opening a directory.
#ifndef _WIN32
inline int OpenDescriptor(const char* path, int flags, mode_t mode = 0) {
  return ::open(path, flags, mode);
}
inline int MakeDirectory(const char* path, mode_t mode) { return ::mkdir(path, mode); }
inline int64_t ModifiedNs(const struct stat& info) {
  return int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec;
}
inline int64_t ChangedNs(const struct stat& info) {
  return int64_t{info.st_ctim.tv_sec} * 1000000000 + info.st_ctim.tv_nsec;
}
// rename(2): the new name replaces whatever had it, in one step.
inline int ReplaceName(const char* from, const char* to) { return std::rename(from, to); }
// rename(2) that never replaces: -1 with EEXIST when to exists. A file system that
// cannot rename so (nor link) has the name checked first, a moment before the rename.
int NewName(const char* from, const char* to);
// The terminal shows the UTF-8 the command writes: nothing to do on POSIX.
inline void UseUtf8Console() {}
// Standard input gives its bytes as they are: nothing to do on POSIX.
inline void ReadStandardInputAsBytes() {}
// The reason the track file object recorded for a failure (WaveFile::LastError()) as
// an errno value: it is one already on POSIX.
inline int ErrnoOfFileError(int error) { return error; }
#else
int OpenDescriptor(const char* path, int flags, mode_t mode = 0);
// rename(2) as POSIX has it: Windows' own rename() refuses a name that exists, so
// MoveFileEx replaces it.
int ReplaceName(const char* from, const char* to);
// rename(2) that never replaces: -1 with EEXIST when to exists.
int NewName(const char* from, const char* to);
// The console shows what the command writes as UTF-8 (its own code page is the
// OEM one), so names with accents or other scripts read as they were given.
void UseUtf8Console();
// Standard input in binary mode: in the C runtime's text mode a piped video would lose
// every CR before an LF and end at its first 0x1A byte.
void ReadStandardInputAsBytes();
// WaveFile::LastError() is a Windows error code there (its special values kept).
int ErrnoOfFileError(int error);
// Windows has no use for the mode; the directory takes its parent's permissions.
inline int MakeDirectory(const char* path, mode_t) { return ::mkdir(path); }
// Windows' stat() gives whole seconds.
inline int64_t ModifiedNs(const struct stat& info) { return int64_t{info.st_mtime} * 1000000000; }
inline int64_t ChangedNs(const struct stat& info) { return int64_t{info.st_ctime} * 1000000000; }
#endif

}  // namespace trackloom::cli

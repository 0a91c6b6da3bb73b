#include "cli/common/output_file.h"

#include <cerrno>
#include <cstring>

#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"

namespace trackloom::cli {

int OpenOutputFile(const std::string& path, int* error) {
  // O_NONBLOCK: a FIFO under the name would otherwise hold the open until a reader
  // comes. Emptied only after the checks, so a refused file keeps its bytes.
  UniqueFd fd(
      OpenDescriptor(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
  if (!fd) {
    *error = errno;
    return -1;
  }
  struct stat info = {};
  int reason = 0;
  if (::fstat(fd.get(), &info) != 0) {
    reason = errno;
  } else if (!S_ISREG(info.st_mode) || info.st_nlink > 1) {
    reason = kNotRegularFile;
  } else if (::ftruncate(fd.get(), 0) != 0) {
    reason = errno;
  }
  if (reason != 0) {
    *error = reason;
    return -1;
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return fd.Release();
}

std::FILE* OpenOutputStream(const std::string& path, int* error) {
  UniqueFd fd(OpenOutputFile(path, error));
  if (!fd) return nullptr;
  std::FILE* stream = ::fdopen(fd.get(), "wb");
  if (stream == nullptr) {
    *error = errno;
    return nullptr;
  }
  fd.Release();  // the stream's now
  return stream;
}

std::string DescribeWriteError(const std::string& path, int error) {
  struct stat info = {};
  if (::lstat(path.c_str(), &info) == 0) {
    if (S_ISLNK(info.st_mode)) return "it is a symbolic link, which is never written through";
    if (S_ISDIR(info.st_mode)) return "a directory of that name is in the way";
    if (!S_ISREG(info.st_mode)) return "it is not a regular file (a FIFO, socket or device)";
    if (info.st_nlink > 1 && (error == kNotRegularFile || error == 0)) {
      return "it has other names (hard links), which writing it would change too";
    }
  }
  return DescribeError(error);
}

const std::string* SameFileAsInput(const std::string& output,
                                   const std::vector<std::string>& inputs) {
  FileIdentity out;
  if (!IdentityOf(output.c_str(), &out)) return nullptr;
  for (const std::string& input : inputs) {
    FileIdentity in;
    if (IdentityOf(input.c_str(), &in) && in == out) return &input;
  }
  return nullptr;
}

std::string SameFileMessage(const std::string& output, const std::string& input) {
  return Printable("cannot write '" + output + "': it is the input '" + input +
                   "', which would be lost; give another name");
}

std::string OutputRefusal(const std::string& path, bool overwrite) {
  struct stat info = {};
  if (::lstat(path.c_str(), &info) != 0) return "";
  if (!S_ISREG(info.st_mode) || info.st_nlink > 1) return DescribeWriteError(path, 0);
  if (!overwrite) return "it already exists (give --overwrite to replace it)";
  return "";
}

std::string DescribeError(int error) {
  switch (error) {
    case ENOSPC:
      return "the disk is full";
    case EDQUOT:
      return "the disk quota is used up";
    case EFBIG:
      return "the file size limit is reached (ulimit -f)";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EROFS:
      return "the disk is read-only";
    case ENOENT:
      return "the directory is gone";
    case EWOULDBLOCK:
      return "another program has it open";
    case kNotRegularFile:
      return "it is not a regular file";
    case 0:
      return "the system gave no reason";
    default:
      return std::strerror(error);
  }
}

}  // namespace trackloom::cli

// Whether a device is an optical drive: the studio offers to read only those, never
// any other block device a request may name.

#include <string>

#include "cli/cdio/cd_reader.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <linux/cdrom.h>
#include <sys/ioctl.h>
#endif

namespace trackloom::cli::cdio {

bool IsOpticalDrive(const std::string& path) {
  if (!IsCdDrive(path)) return false;
#ifdef _WIN32
  const wchar_t root[] = {static_cast<wchar_t>(path[0]), L':', L'\\', L'\0'};
  return GetDriveTypeW(root) == DRIVE_CDROM;
#else
  // Only a CD drive answers the question of what it can do; opening it without
  // blocking needs no disc in it.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  return fd && ::ioctl(fd.get(), CDROM_GET_CAPABILITY, 0) >= 0;
#endif
}

}  // namespace trackloom::cli::cdio

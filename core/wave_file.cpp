#include "core/wave_file.h"

#include <cstring>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace trackloom {

namespace {

// The header, byte by byte:
//   0 "RIFF"   4 RIFF size (length - 8)   8 "WAVE"
//  12 "fmt "  16 format length 16        20 format 1 (PCM)   22 channels
//  24 sample rate   28 byte rate   32 block alignment   34 bits per sample
//  36 "data"  40 data size (length - 44)
constexpr int kRiffSizeOffset = 4;
constexpr int kDataSizeOffset = 40;

void PutLe16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLe16(const uint8_t* at) { return static_cast<uint32_t>(at[0] | at[1] << 8); }

uint32_t GetLe32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

bool HasTag(const uint8_t* at, const char* tag) { return std::memcmp(at, tag, 4) == 0; }

}  // namespace

#ifdef _WIN32

WaveFile* WaveFile::CreateForWrite(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  WaveFile* file = new (std::nothrow) WaveFile(h);
  if (file == nullptr) CloseHandle(h);
  return file;
}

WaveFile* WaveFile::OpenForRead(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  WaveFile* file = new (std::nothrow) WaveFile(h);
  if (file == nullptr) CloseHandle(h);
  return file;
}

void WaveFile::Close() {
  if (handle_ != nullptr) {
    CloseHandle(handle_);
    handle_ = nullptr;
  }
}

bool WaveFile::Write(const void* buffer, uint32_t count) {
  DWORD written = 0;
  return handle_ != nullptr && WriteFile(handle_, buffer, count, &written, nullptr) &&
         written == count;
}

bool WaveFile::Read(void* buffer, uint32_t count) {
  DWORD read = 0;
  return handle_ != nullptr && ReadFile(handle_, buffer, count, &read, nullptr) && read == count;
}

int64_t WaveFile::Position() {
  if (handle_ == nullptr) return -1;
  LONG high = 0;
  SetLastError(NO_ERROR);
  const DWORD low = SetFilePointer(handle_, 0, &high, FILE_CURRENT);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
  return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | low);
}

bool WaveFile::SeekTo(uint32_t offset) {
  return handle_ != nullptr &&
         SetFilePointer(handle_, static_cast<LONG>(offset), nullptr, FILE_BEGIN) !=
             INVALID_SET_FILE_POINTER;
}

bool WaveFile::TruncateTo(int64_t length) {
  if (handle_ == nullptr) return false;
  LONG high = static_cast<LONG>(length >> 32);
  if (SetFilePointer(handle_, static_cast<LONG>(length & 0xFFFFFFFF), &high, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER &&
      GetLastError() != NO_ERROR) {
    return false;
  }
  return SetEndOfFile(handle_) != 0;
}

#else  // POSIX

namespace {
// Exclusive use, as on Windows: a second open of a file held here fails.
WaveFile::Handle OpenExclusive(const char* path, int flags) {
  const int fd = ::open(path, flags | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}
}  // namespace

WaveFile* WaveFile::CreateForWrite(const char* path) {
  // Truncate only once the lock is held, so a file someone else holds stays whole.
  const int fd = OpenExclusive(path, O_WRONLY | O_CREAT);
  if (fd < 0) return nullptr;
  if (::ftruncate(fd, 0) != 0 && errno != EINVAL) {  // EINVAL: not a regular file
    ::close(fd);
    return nullptr;
  }
  WaveFile* file = new (std::nothrow) WaveFile(fd);
  if (file == nullptr) ::close(fd);
  return file;
}

WaveFile* WaveFile::OpenForRead(const char* path) {
  const int fd = OpenExclusive(path, O_RDONLY);
  if (fd < 0) return nullptr;
  WaveFile* file = new (std::nothrow) WaveFile(fd);
  if (file == nullptr) ::close(fd);
  return file;
}

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
      return false;
    }
    if (written == 0) return false;
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
      return false;
    }
    if (got == 0) return false;  // end of file before count bytes
    at += got;
    count -= static_cast<uint32_t>(got);
  }
  return true;
}

int64_t WaveFile::Position() {
  if (handle_ < 0) return -1;
  return static_cast<int64_t>(::lseek(handle_, 0, SEEK_CUR));
}

bool WaveFile::SeekTo(uint32_t offset) {
  return handle_ >= 0 && ::lseek(handle_, static_cast<off_t>(offset), SEEK_SET) >= 0;
}

bool WaveFile::TruncateTo(int64_t length) {
  return handle_ >= 0 && ::ftruncate(handle_, static_cast<off_t>(length)) == 0 &&
         ::lseek(handle_, static_cast<off_t>(length), SEEK_SET) >= 0;
}

#endif

WaveFile::~WaveFile() { Close(); }

bool WaveFile::WriteHeader(int32_t rate, int32_t bits, int32_t channels) {
  uint8_t header[kWaveHeaderSize];
  std::memcpy(header + 0, "RIFF", 4);
  PutLe32(header + kRiffSizeOffset, 0);  // patched by FinishHeader
  std::memcpy(header + 8, "WAVE", 4);
  std::memcpy(header + 12, "fmt ", 4);
  PutLe32(header + 16, 16);  // format chunk length
  PutLe16(header + 20, 1);   // PCM
  PutLe16(header + 22, static_cast<uint32_t>(channels));
  PutLe32(header + 24, static_cast<uint32_t>(rate));
  PutLe32(header + 28, static_cast<uint32_t>(rate * (bits / 8) * channels));  // byte rate
  // Block alignment: 4 is right for the only header written, 16-bit stereo.
  PutLe16(header + 32, 4);
  PutLe16(header + 34, static_cast<uint32_t>(bits));
  std::memcpy(header + 36, "data", 4);
  PutLe32(header + kDataSizeOffset, 0);  // patched by FinishHeader
  return Write(header, kWaveHeaderSize);
}

bool WaveFile::CheckHeader(int32_t rate, int32_t bits, int32_t channels) {
  uint8_t header[kWaveHeaderSize];
  if (!Read(header, kWaveHeaderSize)) return false;
  // The samples must start at offset 44: a longer format chunk or any chunk before
  // "data" is refused. Sizes, byte rate and alignment are not examined.
  return HasTag(header + 0, "RIFF") && HasTag(header + 8, "WAVE") &&
         HasTag(header + 12, "fmt ") && GetLe32(header + 16) == 16 && GetLe16(header + 20) == 1 &&
         GetLe16(header + 22) == static_cast<uint32_t>(channels) &&
         GetLe32(header + 24) == static_cast<uint32_t>(rate) &&
         GetLe16(header + 34) == static_cast<uint32_t>(bits) && HasTag(header + 36, "data");
}

void WaveFile::FinishHeader() {
  const int64_t length = Position();
  uint8_t field[4];
  PutLe32(field, static_cast<uint32_t>(length - 8));
  SeekTo(kRiffSizeOffset);
  Write(field, 4);
  PutLe32(field, static_cast<uint32_t>(length - kWaveHeaderSize));
  SeekTo(kDataSizeOffset);
  Write(field, 4);
  SeekTo(kWaveHeaderSize);
}

void CloseAndFree(WaveFile*& file) {
  delete file;  // the destructor closes the handle
  file = nullptr;
}

}  // namespace trackloom

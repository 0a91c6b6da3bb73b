// The file object on Windows: handles opened with sharing mode 0 for exclusive use,
// and GetLastError() as the reason of a failure.
#include <windows.h>

#include <new>

#include "core/wave_file.h"

namespace trackloom {

namespace {
bool Failed() { return WaveFile::RecordFailure(static_cast<int>(GetLastError())); }

WaveFile::Handle Wrap(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE) Failed();
  return h == INVALID_HANDLE_VALUE ? nullptr : h;
}
}  // namespace

WaveFile* WaveFile::Adopt(Handle handle) {
  WaveFile* file = new (std::nothrow) WaveFile(handle);
  if (file == nullptr) {
    WaveFile::RecordFailure(ERROR_NOT_ENOUGH_MEMORY);
    CloseHandle(handle);
  }
  return file;
}

WaveFile* WaveFile::CreateForWrite(const char* path) {
  HANDLE h = Wrap(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return h == nullptr ? nullptr : Adopt(h);
}

WaveFile* WaveFile::OpenForRead(const char* path) {
  HANDLE h = Wrap(
      CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return h == nullptr ? nullptr : Adopt(h);
}

bool WaveFile::Remove(const char* path) { return DeleteFileA(path) != 0; }

bool WaveFile::Close() {
  if (handle_ == nullptr) return true;
  const HANDLE handle = handle_;
  handle_ = nullptr;
  return CloseHandle(handle) != 0 || Failed();
}

bool WaveFile::Write(const void* buffer, uint32_t count) {
  DWORD written = 0;
  if (handle_ == nullptr) return false;
  if (!WriteFile(handle_, buffer, count, &written, nullptr)) return Failed();
  // A short write without an error: no room left.
  if (written != count) return RecordFailure(ERROR_DISK_FULL);
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

}  // namespace trackloom

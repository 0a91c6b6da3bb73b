// A file object over one operating-system handle that knows the system's single
// 44-byte WAV header: written for new track files, checked on the input sound file,
// and finished with the two size fields when a track is complete.
//
// Both kinds of file are opened exclusively: on Windows with sharing mode 0, on
// POSIX systems with an advisory lock, so a second open of a file held here fails.
// On POSIX systems only regular files are opened, and a track is never created
// through a symbolic link or over a file with other names (hard links), so a planted
// link cannot send the writes anywhere else.
#pragma once

#include <cstdint>

#include "core/track_format.h"

namespace trackloom {

class WaveFile {
 public:
#ifdef _WIN32
  using Handle = void*;
#else
  using Handle = int;
#endif

  // Creates or truncates path for writing. Null when the system refuses.
  static WaveFile* CreateForWrite(const char* path);
  // Opens an existing file for reading. Null when it cannot be opened.
  static WaveFile* OpenForRead(const char* path);
  // Deletes the file at path; for a track that could not be made whole. Leaves
  // LastError() as it was, so the reason for the failure that led here is kept.
  static bool Remove(const char* path);

  // The system's code for the last failed operation of any WaveFile on this thread
  // (errno, or GetLastError() on Windows), kept like errno itself so that a caller
  // can say why a factory returned null or a write failed; 0 before any failure.
  // A file that is not a regular file, or has other names, is refused with
  // kNotRegularFile.
  static int LastError();
  static constexpr int kNotRegularFile = -1;
  // A write refused because the track would grow past what its 32-bit size fields
  // can describe.
  static constexpr int kPastSizeFields = -2;
  // Records error as the last failure on this thread, for LastError(); returns false.
  static bool RecordFailure(int error);

  ~WaveFile();
  WaveFile(const WaveFile&) = delete;
  WaveFile& operator=(const WaveFile&) = delete;

  // Closes the handle if there is one; calling it again does nothing. False when the
  // system reports a failure (LastError() says why): the last writes may be lost. The
  // handle is gone either way.
  bool Close();

  // True only when all count bytes were written.
  bool Write(const void* buffer, uint32_t count);
  // True only when exactly count bytes were read; a short read (end of file) is false.
  bool Read(void* buffer, uint32_t count);

  // Writes the 44-byte header at the current position with both size fields 0.
  bool WriteHeader(int32_t rate, int32_t bits, int32_t channels);
  // Reads 44 bytes and checks every field the input format requires. On success the
  // position is at the first sample byte.
  bool CheckHeader(int32_t rate, int32_t bits, int32_t channels);
  // Patches the RIFF and data size fields from the current position (the file's
  // length, since tracks are written sequentially) and moves to the first sample byte.
  // False when any seek or write failed (LastError() says why).
  bool FinishHeader();

  // The current position in bytes, or -1 when the system cannot tell.
  int64_t Position();
  // Cuts the file to length bytes and moves there: takes back a record that could
  // only be written in part, so the track stays a whole number of records.
  bool TruncateTo(int64_t length);

 private:
  explicit WaveFile(Handle handle) : handle_(handle) {}
  // The file object for a freshly opened handle; null, the handle closed, when there
  // is no memory for it.
  static WaveFile* Adopt(Handle handle);
  bool SeekTo(uint32_t offset);

  Handle handle_;
};

// Closes and frees the file a record field points to and clears the field. False
// when the close failed (LastError() says why).
bool CloseAndFree(WaveFile*& file);

}  // namespace trackloom

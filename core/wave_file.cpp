// What every platform's file object shares: the record of the last failure, the
// WAV header written, checked and finished through the platform's Read, Write and
// seek, and the owner's close-and-free. The system calls themselves are in
// wave_file_posix.cpp and wave_file_win32.cpp, one of which CMake builds.
#include "core/wave_file.h"

namespace trackloom {

namespace {

// Set by every failing system call of a WaveFile, read by LastError(); per thread,
// as errno.
thread_local int g_last_error = 0;

wav::Format FormatOf(int32_t rate, int32_t bits, int32_t channels) {
  return {static_cast<uint32_t>(rate), static_cast<uint16_t>(bits),
          static_cast<uint16_t>(channels)};
}

}  // namespace

bool WaveFile::RecordFailure(int error) {
  g_last_error = error;
  return false;
}

int WaveFile::LastError() { return g_last_error; }

// A destructor cannot report: an owner that cares whether the close worked calls
// Close() itself first (CloseAndFree does); this one only makes sure the handle goes.
WaveFile::~WaveFile() { Close(); }

bool WaveFile::WriteHeader(int32_t rate, int32_t bits, int32_t channels) {
  uint8_t header[kWaveHeaderSize];
  // Both size fields 0 until FinishHeader patches them.
  wav::BuildUnfinishedHeader(header, FormatOf(rate, bits, channels));
  return Write(header, kWaveHeaderSize);
}

bool WaveFile::CheckHeader(int32_t rate, int32_t bits, int32_t channels) {
  uint8_t header[kWaveHeaderSize];
  if (!Read(header, kWaveHeaderSize)) return false;
  return wav::CheckHeader(header, FormatOf(rate, bits, channels));
}

bool WaveFile::FinishHeader() {
  const int64_t length = Position();
  if (length < 0) return false;
  uint8_t riff_size[4], data_size[4];
  wav::PutLe32(riff_size, static_cast<uint32_t>(length - wav::kRiffSizeFrom));
  wav::PutLe32(data_size, static_cast<uint32_t>(length - kWaveHeaderSize));
  // Every step is tried even after one fails, so that as much of the header as the
  // system allows is right; the result says whether all of it is.
  bool ok = SeekTo(wav::kRiffSizeOffset);
  ok = Write(riff_size, 4) && ok;
  ok = SeekTo(wav::kDataSizeOffset) && ok;
  ok = Write(data_size, 4) && ok;
  return SeekTo(kWaveHeaderSize) && ok;
}

bool CloseAndFree(WaveFile*& file) {
  if (file == nullptr) return true;
  const bool closed = file->Close();
  delete file;
  file = nullptr;
  return closed;
}

}  // namespace trackloom

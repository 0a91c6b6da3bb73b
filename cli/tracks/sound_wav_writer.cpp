#include "cli/tracks/sound_wav_writer.h"

#include <cerrno>
#include <cstring>

#include "cli/common/output_file.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr int kHeaderSize = kWaveHeaderSize;
// Both size fields are 32-bit: the data may not pass 4 GiB less the header.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - (kHeaderSize - 8);

}  // namespace

void MakeSoundWavHeader(uint32_t data_bytes, uint8_t* h) {
  wav::BuildHeader(h, wav::kSoundFormat, data_bytes);
}

SoundWavWriter::~SoundWavWriter() {
  if (file_ != nullptr) std::fclose(file_);
}

bool SoundWavWriter::Open(const std::string& path, std::string* error) {
  path_ = path;
  int open_error = 0;
  file_ = OpenOutputStream(path, &open_error);
  if (file_ == nullptr) {
    *error = "cannot create " + path + ": " + DescribeWriteError(path, open_error);
    return false;
  }
  uint8_t header[kHeaderSize];
  MakeSoundWavHeader(0, header);
  if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) {
    *error = "cannot write " + path + ": " + DescribeWriteError(path, errno);
    return false;
  }
  return true;
}

bool SoundWavWriter::Append(const uint8_t* samples, size_t count, std::string* error) {
  if (data_bytes_ + count > kMaxDataBytes) {
    *error = path_ + ": the sound is longer than a WAV file can hold";
    return false;
  }
  if (std::fwrite(samples, 1, count, file_) != count) {
    *error = "cannot write " + path_ + ": " + DescribeWriteError(path_, errno);
    return false;
  }
  data_bytes_ += count;
  return true;
}

bool SoundWavWriter::Finish(std::string* error) {
  uint8_t header[kHeaderSize];
  MakeSoundWavHeader(static_cast<uint32_t>(data_bytes_), header);
  const bool ok = std::fseek(file_, 0, SEEK_SET) == 0 &&
                  std::fwrite(header, 1, sizeof header, file_) == sizeof header;
  const int reason = ok ? 0 : errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!ok || !closed) {
    *error = "cannot finish " + path_ + ": " + DescribeWriteError(path_, ok ? errno : reason);
    return false;
  }
  return true;
}

}  // namespace trackloom::cli

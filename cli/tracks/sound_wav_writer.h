// Writes the sound of a track's audio slots as a canonical 44-byte-header WAV file:
// 8-bit unsigned, stereo, 17640 Hz, the format the filter takes as its sound file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace trackloom::cli {

class SoundWavWriter {
 public:
  SoundWavWriter() = default;
  ~SoundWavWriter();
  SoundWavWriter(const SoundWavWriter&) = delete;
  SoundWavWriter& operator=(const SoundWavWriter&) = delete;

  // Creates path with a header whose size fields are patched by Finish().
  bool Open(const std::string& path, std::string* error);
  bool Append(const uint8_t* samples, size_t count, std::string* error);
  // Patches both size fields and closes the file.
  bool Finish(std::string* error);

  uint64_t data_bytes() const { return data_bytes_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  uint64_t data_bytes_ = 0;
};

// The 44-byte header for data_bytes bytes of 8-bit stereo 17640 Hz sound.
void MakeSoundWavHeader(uint32_t data_bytes, uint8_t* header);

}  // namespace trackloom::cli

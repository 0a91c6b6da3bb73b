// A fresh directory for one test, removed with everything in it afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trackloom::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The directory, without a trailing separator, in the platform's own form.
  const std::string& path() const { return path_; }
  // path() + separator + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);
// The names in a directory, sorted; none if it cannot be read.
std::vector<std::string> ListDirectory(const std::string& path);

// "VDN Track 01.wav" for 1: the name a track must have, spelled out independently of
// the code under test.
std::string TrackFileName(int number);

// A canonical 44-byte-header PCM WAV file with the given format fields and samples.
std::vector<uint8_t> MakeWav(uint32_t rate, uint16_t bits, uint16_t channels,
                             const std::vector<uint8_t>& samples);

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset);
uint16_t ReadLe16(const std::vector<uint8_t>& bytes, size_t offset);

}  // namespace trackloom::testing

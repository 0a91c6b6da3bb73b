#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace trackloom::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device rd;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string stem = info ? std::string(info->name()) : "trackloom";
  for (char& c : stem) {
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  fs::path dir = fs::temp_directory_path() / ("trackloom-" + stem + "-" + std::to_string(rd()));
  fs::create_directories(dir);
  path_ = dir.make_preferred().string();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return (fs::path(path_) / name).make_preferred().string();
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return fs::exists(path); }

std::vector<std::string> ListDirectory(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(path, error)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string TrackFileName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "VDN Track %02d.wav", number);
  return name;
}

namespace {
void PutLe32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}
void PutTag(uint8_t* at, const char* tag) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(tag[i]);
}
}  // namespace

std::vector<uint8_t> MakeWav(uint32_t rate, uint16_t bits, uint16_t channels,
                             const std::vector<uint8_t>& samples) {
  std::vector<uint8_t> out(44 + samples.size());
  const uint32_t block = channels * bits / 8u;
  PutTag(&out[0], "RIFF");
  PutLe32(&out[4], static_cast<uint32_t>(36 + samples.size()));
  PutTag(&out[8], "WAVE");
  PutTag(&out[12], "fmt ");
  PutLe32(&out[16], 16);
  PutLe16(&out[20], 1);
  PutLe16(&out[22], channels);
  PutLe32(&out[24], rate);
  PutLe32(&out[28], rate * block);
  PutLe16(&out[32], static_cast<uint16_t>(block));
  PutLe16(&out[34], bits);
  PutTag(&out[36], "data");
  PutLe32(&out[40], static_cast<uint32_t>(samples.size()));
  std::copy(samples.begin(), samples.end(), out.begin() + 44);
  return out;
}

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint32_t>(bytes.at(offset)) | static_cast<uint32_t>(bytes.at(offset + 1)) << 8 |
         static_cast<uint32_t>(bytes.at(offset + 2)) << 16 |
         static_cast<uint32_t>(bytes.at(offset + 3)) << 24;
}

uint16_t ReadLe16(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes.at(offset) | bytes.at(offset + 1) << 8);
}

}  // namespace trackloom::testing

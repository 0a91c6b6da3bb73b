#include "core/wave_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace trackloom {
namespace {

using testing::MakeWav;
using testing::ReadFileBytes;
using testing::ReadLe16;
using testing::ReadLe32;
using testing::TempDir;
using testing::WriteFileBytes;

struct Closer {
  void operator()(WaveFile* f) const { delete f; }
};
using WavePtr = std::unique_ptr<WaveFile, Closer>;

TEST(WaveFile, CheckHeaderAcceptsOnlyTheCanonicalInputFormat) {
  TempDir dir;
  const std::vector<uint8_t> sound(100, 0x80);
  auto with = [&](size_t offset, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> wav = MakeWav(17640, 8, 2, sound);
    std::copy(bytes.begin(), bytes.end(), wav.begin() + static_cast<long>(offset));
    return wav;
  };
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    bool accepted;
  };
  const std::vector<uint8_t> header_only = MakeWav(17640, 8, 2, {});
  std::vector<uint8_t> extra_chunk = MakeWav(17640, 8, 2, sound);
  // A "LIST" chunk where "data" should be: the samples would not start at 44.
  std::copy_n("LIST", 4, extra_chunk.begin() + 36);
  const Case cases[] = {
      {"canonical", MakeWav(17640, 8, 2, sound), true},
      {"sizes, byte rate and alignment are not examined",
       with(4, {0xFF, 0xFF, 0xFF, 0xFF}), true},
      {"byte rate", with(28, {1, 2, 3, 4}), true},
      {"alignment", with(32, {9, 0}), true},
      {"data size", with(40, {0, 0, 0, 0}), true},
      {"no samples at all", MakeWav(17640, 8, 2, {}), true},
      {"44100 Hz", MakeWav(44100, 8, 2, sound), false},
      {"mono", MakeWav(17640, 8, 1, sound), false},
      {"16-bit", MakeWav(17640, 16, 2, sound), false},
      {"not PCM", with(20, {3, 0}), false},
      {"format chunk longer than 16", with(16, {18, 0, 0, 0}), false},
      {"not RIFF", with(0, {'R', 'I', 'F', 'X'}), false},
      {"not WAVE", with(8, {'A', 'V', 'I', ' '}), false},
      {"no fmt chunk first", with(12, {'f', 'm', 't', 'x'}), false},
      {"extra chunk before data", extra_chunk, false},
      {"43 bytes", std::vector<uint8_t>(header_only.begin(), header_only.begin() + 43), false},
      {"empty file", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File("in.wav");
    WriteFileBytes(path, c.file);
    WavePtr file(WaveFile::OpenForRead(path.c_str()));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->CheckHeader(17640, 8, 2), c.accepted);
    if (c.accepted && c.file.size() > 44) {
      // After a good check the next byte read is the first sample.
      uint8_t first = 0;
      EXPECT_TRUE(file->Read(&first, 1));
      EXPECT_EQ(first, 0x80);
    }
  }
}

TEST(WaveFile, WritesTheHeaderAndFinishesItsSizes) {
  TempDir dir;
  const std::string path = dir.File("out.wav");
  {
    WavePtr file(WaveFile::CreateForWrite(path.c_str()));
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(file->WriteHeader(44100, 16, 2));
    const std::vector<uint8_t> body(1000, 0x55);
    ASSERT_TRUE(file->Write(body.data(), static_cast<uint32_t>(body.size())));
    EXPECT_EQ(file->Position(), 1044);
    file->FinishHeader();
    EXPECT_EQ(file->Position(), 44);
  }
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  ASSERT_EQ(bytes.size(), 1044u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  EXPECT_EQ(ReadLe32(bytes, 4), 1044u - 8);
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(ReadLe32(bytes, 16), 16u);
  EXPECT_EQ(ReadLe16(bytes, 20), 1u);
  EXPECT_EQ(ReadLe16(bytes, 22), 2u);
  EXPECT_EQ(ReadLe32(bytes, 24), 44100u);
  EXPECT_EQ(ReadLe32(bytes, 28), 176400u);
  EXPECT_EQ(ReadLe16(bytes, 32), 4u);
  EXPECT_EQ(ReadLe16(bytes, 34), 16u);
  EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
  EXPECT_EQ(ReadLe32(bytes, 40), 1000u);
  EXPECT_EQ(bytes[44], 0x55);
}

TEST(WaveFile, OpensExclusivelyAndReplacesExistingFiles) {
  TempDir dir;
  const std::string path = dir.File("held.wav");
  WriteFileBytes(path, std::vector<uint8_t>(5000, 0x11));

  {
    WavePtr reader(WaveFile::OpenForRead(path.c_str()));
    ASSERT_NE(reader, nullptr);
    // While it is held, neither a second reader nor a writer gets it.
    EXPECT_EQ(WavePtr(WaveFile::OpenForRead(path.c_str())), nullptr);
    EXPECT_EQ(WavePtr(WaveFile::CreateForWrite(path.c_str())), nullptr);
  }
  // The refused writer must not have cut the file short.
  EXPECT_EQ(ReadFileBytes(path).size(), 5000u);
  {
    WavePtr writer(WaveFile::CreateForWrite(path.c_str()));
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(WavePtr(WaveFile::OpenForRead(path.c_str())), nullptr);
    ASSERT_TRUE(writer->Write("ab", 2));
  }
  EXPECT_EQ(ReadFileBytes(path), (std::vector<uint8_t>{'a', 'b'}));  // replaced, not appended
  // Closed again: open to anyone.
  EXPECT_NE(WavePtr(WaveFile::OpenForRead(path.c_str())), nullptr);
  EXPECT_EQ(WavePtr(WaveFile::OpenForRead(dir.File("missing.wav").c_str())), nullptr);
}

TEST(WaveFile, ReadsExactCountsOnlyAndCloseIsFinal) {
  TempDir dir;
  const std::string path = dir.File("short.bin");
  WriteFileBytes(path, {1, 2, 3, 4, 5});
  WavePtr file(WaveFile::OpenForRead(path.c_str()));
  ASSERT_NE(file, nullptr);
  uint8_t buffer[4] = {};
  EXPECT_TRUE(file->Read(buffer, 4));
  EXPECT_EQ(buffer[3], 4);
  EXPECT_FALSE(file->Read(buffer, 4));  // only one byte left
  EXPECT_FALSE(file->Read(buffer, 1));  // and the short read consumed it
  EXPECT_TRUE(file->Close());
  EXPECT_TRUE(file->Close());
  EXPECT_FALSE(file->Read(buffer, 1));
  EXPECT_FALSE(file->Write(buffer, 1));
  EXPECT_EQ(file->Position(), -1);
}

#ifndef _WIN32
// A close the system refuses (its writes may be lost) is reported with the reason,
// and the handle is not closed again.
TEST(WaveFile, FailedCloseIsReported) {
  TempDir dir;
  const int next_fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(next_fd, 0);
  close(next_fd);  // the file below takes this lowest free number
  WavePtr file(WaveFile::CreateForWrite(dir.File("t.wav").c_str()));
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(close(next_fd), 0);  // behind the file's back
  EXPECT_FALSE(file->Close());
  EXPECT_EQ(WaveFile::LastError(), EBADF);
  EXPECT_TRUE(file->Close());
}
#endif

}  // namespace
}  // namespace trackloom

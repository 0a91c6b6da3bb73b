#include "tests/scenario_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/frame_encoder.h"
#include "core/track_format.h"
#include "runner/script_line.h"
#include "tests/support/temp_dir.h"

#ifndef TRACKLOOM_MODULE_LOADED
#include "host/filter_module.h"
#endif

namespace trackloom::scenario {

using testing::ReadFileBytes;
using testing::ReadLe16;
using testing::ReadLe32;

// TRACKLOOM_MODULE_FILE in the environment runs the scenarios against another build
// of the module, such as the one in a release zip.
std::string ModuleFilePath() {
  const char* chosen = std::getenv("TRACKLOOM_MODULE_FILE");
  std::string path = chosen != nullptr && *chosen != '\0' ? chosen : TRACKLOOM_MODULE_FILE;
#ifdef _WIN32
  // The build tree's path is a Unix one; wine shows the Unix root as drive Z.
  if (!path.empty() && path[0] == '/') {
    std::replace(path.begin(), path.end(), '/', '\\');
    path = "Z:" + path;
  }
#endif
  return path;
}

bool ModuleIsLoadedFromFile() {
#ifdef TRACKLOOM_MODULE_LOADED
  return true;
#else
  return false;
#endif
}

std::unique_ptr<runner::LoadedModule> OpenModule(runner::Editor& editor) {
#ifdef TRACKLOOM_MODULE_LOADED
  return runner::LoadedModule::Load(editor, ModuleFilePath());
#else
  return std::make_unique<runner::LoadedModule>(
      editor, runner::ModuleExports{&VirtualdubFilterModuleInit2, &VirtualdubFilterModuleDeinit});
#endif
}

void PaintFrame(int64_t index, uint32_t* pixels) { testing::PaintPicture(index, pixels); }

std::vector<uint8_t> ExpectedBlock(int64_t index) {
  std::vector<uint32_t> pixels(static_cast<size_t>(kPictureWidth * kPictureHeight));
  PaintFrame(index, pixels.data());
  auto state = std::make_unique<InstanceState>();
  std::memset(state.get(), 0, sizeof(InstanceState));
  BuildNibbleTable(*state);
  const auto stride = static_cast<ptrdiff_t>(kPictureWidth * 4);
  SourcePicture picture{reinterpret_cast<const uint8_t*>(pixels.data()) + (kPictureHeight - 1) * stride,
                        kPictureHeight, -stride};
  EncodeFrame(picture, *state);
  return std::vector<uint8_t>(state->frame_block, state->frame_block + kFrameBlockSize);
}

std::unique_ptr<runner::PaintedFrameSource> Frames(int64_t count, std::vector<int32_t> source_numbers) {
  runner::PaintedFrameSource::Numbering numbering;
  if (!source_numbers.empty()) {
    numbering = [numbers = std::move(source_numbers)](int64_t i) { return numbers.at(static_cast<size_t>(i)); };
  }
  return std::make_unique<runner::PaintedFrameSource>(runner::FrameFormat{}, count, &PaintFrame, numbering);
}

std::vector<uint8_t> SoundSamples(size_t count) { return testing::SoundRamp(count); }

std::vector<uint8_t> SoundChunk(const std::vector<uint8_t>& samples, size_t k) {
  const size_t begin = k * kAudioChunkSize;
  if (begin + kAudioChunkSize > samples.size()) return std::vector<uint8_t>(kAudioChunkSize, kSilence);
  return std::vector<uint8_t>(samples.begin() + static_cast<ptrdiff_t>(begin),
                              samples.begin() + static_cast<ptrdiff_t>(begin + kAudioChunkSize));
}

std::vector<uint8_t> ExpectedRecord(std::vector<uint8_t> block, const std::vector<uint8_t>* chunk) {
  std::vector<uint8_t> record(kFrameRecordSize);
  std::memcpy(record.data(), kRecordHeaderTemplate, kRecordHeaderSize);
  std::memcpy(record.data() + kRecordHeaderSize, block.data(), std::min<size_t>(block.size(), kFrameBlockSize));
  if (chunk != nullptr) {
    for (size_t i = 0; i < kAudioChunkSize; ++i) record[i * kGroupSize + kAudioSlotOffset] = (*chunk)[i];
  }
  return record;
}

std::vector<uint8_t> StartRecord(const std::vector<uint8_t>* chunk) {
  std::vector<uint8_t> black(kFrameBlockSize, 0);
  for (size_t i = kAudioSlotOffset; i < black.size(); i += kGroupSize) black[i] = kSilence;
  return ExpectedRecord(black, chunk);
}

void ExpectTrack(const std::string& path, const std::vector<std::vector<uint8_t>>& records) {
  SCOPED_TRACE(path);
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  const size_t length = kFirstRecordOffset + records.size() * kFrameRecordSize;
  ASSERT_EQ(bytes.size(), length) << "holds " << (static_cast<double>(bytes.size()) - kFirstRecordOffset) / kFrameRecordSize
                                  << " records, expected " << records.size();
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
  EXPECT_EQ(ReadLe32(bytes, 4), length - 8);
  EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(ReadLe32(bytes, 16), 16u);
  EXPECT_EQ(ReadLe16(bytes, 20), 1u);       // PCM
  EXPECT_EQ(ReadLe16(bytes, 22), 2u);       // stereo
  EXPECT_EQ(ReadLe32(bytes, 24), 44100u);   // declared as CD audio
  EXPECT_EQ(ReadLe32(bytes, 28), 176400u);  // 44100 x 2 bytes x 2 channels
  EXPECT_EQ(ReadLe16(bytes, 32), 4u);
  EXPECT_EQ(ReadLe16(bytes, 34), 16u);
  EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
  EXPECT_EQ(ReadLe32(bytes, 40), length - 44);
  EXPECT_TRUE(std::all_of(bytes.begin() + 44, bytes.begin() + kFirstRecordOffset, [](uint8_t b) { return b == 0; }))
      << "lead-in is not all zero";
  for (size_t r = 0; r < records.size(); ++r) {
    const uint8_t* got = bytes.data() + kFirstRecordOffset + r * kFrameRecordSize;
    const std::vector<uint8_t>& want = records[r];
    ASSERT_EQ(want.size(), static_cast<size_t>(kFrameRecordSize));
    const auto diff = std::mismatch(want.begin(), want.end(), got);
    if (diff.first != want.end()) {
      const auto at = diff.first - want.begin();
      ADD_FAILURE() << "record " << r << " differs first at byte " << at << ": got 0x" << std::hex
                    << int(*diff.second) << ", expected 0x" << int(*diff.first);
    }
  }
}

std::string ConfigLine(const std::string& audio, const std::string& directory, const std::string& breaks) {
  return "Config(1," + runner::QuoteScriptString(audio) + "," + runner::QuoteScriptString(directory) + "," +
         runner::QuoteScriptString(breaks) + ")";
}

}  // namespace trackloom::scenario

#include "tests/track_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "core/frame_encoder.h"
#include "core/track_writer.h"
#include "core/wave_file.h"

namespace trackloom::track_test {

std::vector<uint8_t> QuantisedPicture(int64_t k) {
  const std::vector<uint32_t> pixels = Picture(k);
  std::vector<uint8_t> rgb(pixels.size() * 3);
  // The filter's quantiser, then the level the standard tables show it at.
  auto q = [](uint32_t v) {
    return levels::ShownValue(levels::kStandardRamp[((v & 0xFF) + 8) / 17]);
  };
  for (size_t i = 0; i < pixels.size(); ++i) {
    rgb[i * 3 + 0] = q(pixels[i] >> 16);
    rgb[i * 3 + 1] = q(pixels[i] >> 8);
    rgb[i * 3 + 2] = q(pixels[i]);
  }
  return rgb;
}

std::string WriteCoreTrack(const testing::TempDir& dir, int records, const std::vector<uint8_t>* samples) {
  auto state = std::make_unique<InstanceState>();
  std::memset(state.get(), 0, sizeof(InstanceState));
  std::snprintf(state->output_directory, kPathCapacity, "%s", dir.path().c_str());
  if (samples != nullptr) {
    const std::string sound = dir.File("sound-in.wav");
    testing::WriteFileBytes(sound, testing::MakeWav(17640, 8, 2, *samples));
    state->audio_source = WaveFile::OpenForRead(sound.c_str());
    EXPECT_NE(state->audio_source, nullptr);
    EXPECT_TRUE(state->audio_source->CheckHeader(17640, 8, 2));
  }
  BuildNibbleTable(*state);
  EXPECT_TRUE(OpenNextTrack(*state));
  for (int k = 0; k < records; ++k) {
    const std::vector<uint32_t> pixels = Picture(k);
    // Handed over as the editor does: bottom-up, here as the last row with a negative pitch.
    const SourcePicture source{reinterpret_cast<const uint8_t*>(pixels.data() + 79 * 144), 80, -144 * 4};
    EncodeFrame(source, *state);
    EXPECT_TRUE(WriteFrameRecord(*state));
  }
  FinishTrack(*state);
  if (state->audio_source != nullptr) CloseAndFree(state->audio_source);
  return dir.File("VDN Track 01.wav");
}

}  // namespace trackloom::track_test

// Render-cycle choices the module makes on its own: an encode start that finds the
// sound file still open from an earlier failure closes it first. The callbacks are
// called directly with hand-made editor records; the full render scenarios run
// through the replacement editor.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/track_format.h"
#include "host/filter_module.h"
#include "tests/support/temp_dir.h"

namespace trackloom {
namespace {

using testing::MakeWav;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

std::vector<std::string> raised;

void TRACKLOOM_CDECL RecordError(const char* format, ...) { raised.emplace_back(format); }

// One filter instance with 144 x 80 source and destination pictures.
struct Instance {
  std::unique_ptr<InstanceState> state = std::make_unique<InstanceState>();
  std::vector<uint32_t> source_pixels = std::vector<uint32_t>(144 * 80, 0x00336699);
  std::vector<uint32_t> destination_pixels = std::vector<uint32_t>(144 * 80, 0);
  HostBitmap source{};
  HostBitmap destination{};
  HostFrameState frame{};
  HostServices services{};
  HostContext context{};

  Instance() {
    std::memset(state.get(), 0, sizeof(InstanceState));
    for (HostBitmap* bitmap : {&source, &destination}) {
      bitmap->depth = 32;
      bitmap->width = 144;
      bitmap->height = 80;
      bitmap->pitch = 144 * 4;
    }
    source.data = source_pixels.data();
    destination.data = destination_pixels.data();
    frame.microseconds_per_frame = kRequiredMicrosecondsPerFrame;
    services.raise_error = RecordError;
    context.instance = state.get();
    context.source = &source;
    context.destination = &destination;
    context.frame_state = &frame;
    raised.clear();
  }
  int Run(int32_t output_frame) {
    frame.output_frame = output_frame;
    frame.source_frame = output_frame;
    return FilterRun(&context, &services);
  }
};

// The 1960 audio slot bytes of record `index` of a track file.
std::vector<uint8_t> Slots(const std::vector<uint8_t>& track, int index) {
  std::vector<uint8_t> slots;
  const size_t base = kFirstRecordOffset + static_cast<size_t>(index) * kFrameRecordSize;
  for (size_t i = 0; i < kAudioChunkSize && base + i * kGroupSize + kAudioSlotOffset < track.size();
       ++i) {
    slots.push_back(track[base + i * kGroupSize + kAudioSlotOffset]);
  }
  return slots;
}

TEST(FilterRun, EncodeStartAfterAFailedStartReopensTheSound) {
  TempDir dir;
  std::vector<uint8_t> samples(3 * kAudioChunkSize);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::string sound = dir.File("sound.wav");
  WriteFileBytes(sound, MakeWav(17640, 8, 2, samples));
  const std::vector<uint8_t> first_chunk(samples.begin(), samples.begin() + kAudioChunkSize);
  const std::vector<uint8_t> second_chunk(samples.begin() + kAudioChunkSize,
                                          samples.begin() + 2 * kAudioChunkSize);

  const std::vector<uint8_t> silence(kAudioChunkSize, kSilence);

  struct Case {
    const char* name;
    bool sound_on_retry;
    std::vector<uint8_t> record0;
    std::vector<uint8_t> record1;
  };
  const Case cases[] = {
      // Without closing first, the exclusive open would refuse the file.
      {"same sound file again", true, first_chunk, second_chunk},
      // The stale source must not feed samples into a render without sound.
      {"sound turned off since", false, silence, silence},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Instance instance;
    std::strcpy(instance.state->audio_path, sound.c_str());
    std::strcpy(instance.state->output_directory, dir.File("missing").c_str());
    ASSERT_EQ(FilterStart(&instance.context, &instance.services), 0);
    EXPECT_EQ(instance.Run(0), 0);
    EXPECT_EQ(instance.Run(1), 1);
    EXPECT_EQ(raised, std::vector<std::string>{"Failed to create output file"});
    ASSERT_NE(instance.state->audio_source, nullptr) << "stays open until the end callback";

    // The editor starts over without calling the end callback in between.
    raised.clear();
    std::strcpy(instance.state->output_directory, dir.path().c_str());
    if (!c.sound_on_retry) instance.state->audio_path[0] = '\0';
    ASSERT_EQ(FilterStart(&instance.context, &instance.services), 0);
    EXPECT_EQ(instance.Run(1), 0);
    EXPECT_TRUE(raised.empty()) << raised.front();
    EXPECT_EQ(instance.state->audio_source != nullptr, c.sound_on_retry);
    EXPECT_EQ(FilterEnd(&instance.context, &instance.services), 0);
    EXPECT_EQ(instance.state->audio_source, nullptr);
    EXPECT_EQ(instance.state->output_track, nullptr);

    const std::vector<uint8_t> track = ReadFileBytes(dir.File("VDN Track 01.wav"));
    ASSERT_EQ(track.size(), static_cast<size_t>(kFirstRecordOffset + 2 * kFrameRecordSize));
    EXPECT_EQ(Slots(track, 0), c.record0);
    EXPECT_EQ(Slots(track, 1), c.record1);
  }
}

}  // namespace
}  // namespace trackloom

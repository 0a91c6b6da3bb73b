// Tracks written by the filter module, rendered through the replacement editor as
// the real editor would, read back by the track reader: every track is valid, every
// record's picture is the quantised source picture of its frame and every record's
// sound is the stretch of the sound file it read.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/track_reader.h"
#include "core/track_format.h"
#include "host/filter_module.h"
#include "runner/editor.h"
#include "runner/script_line.h"
#include "tests/support/temp_dir.h"
#include "tests/track_test_support.h"

namespace trackloom::cli {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;

// What one record of a render must decode to. frame < 0: the start record of an
// encode in a fresh instance, whose frame block is still all zero.
struct ExpectedRecord {
  int64_t frame;
  size_t chunk;  // the record's place in the sound file, in 1960-byte chunks
};

std::string TrackName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "VDN Track %02d.wav", number);
  return name;
}

std::string ListProblems(const TrackReport& r) {
  std::string text;
  for (const TrackProblem& p : r.problems) text += "  " + std::to_string(p.offset) + ": " + p.what + "\n";
  return text;
}

class ModuleRender {
 public:
  ModuleRender()
      : module_(editor_, runner::ModuleExports{&VirtualdubFilterModuleInit2, &VirtualdubFilterModuleDeinit}),
        filter_(module_) {}

  void Configure(const std::string& audio, const std::string& directory, const std::string& breaks) {
    filter_.RunScriptLine("Config(1," + runner::QuoteScriptString(audio) + "," +
                          runner::QuoteScriptString(directory) + "," + runner::QuoteScriptString(breaks) + ")");
  }

  runner::RenderReport Render(int64_t frames) {
    runner::PaintedFrameSource source(runner::FrameFormat{}, frames, [](int64_t index, uint32_t* pixels) {
      const std::vector<uint32_t> picture = track_test::Picture(index);
      std::memcpy(pixels, picture.data(), picture.size() * sizeof(uint32_t));
    });
    return filter_.Render(source);
  }

 private:
  runner::Editor editor_;
  runner::LoadedModule module_;
  runner::FilterInstance filter_;
};

// Checks one track file against the records it must hold.
void ExpectTrackDecodes(const std::string& path, const std::vector<ExpectedRecord>& records,
                        const std::vector<uint8_t>* samples) {
  SCOPED_TRACE(path);
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  MemorySource source(bytes.data(), bytes.size());
  const TrackReport report = InspectTrack(source, InspectOptions{});
  EXPECT_TRUE(report.valid()) << ListProblems(report);
  ASSERT_EQ(report.record_count, records.size());

  std::vector<uint8_t> rgb(kRgbPictureSize);
  std::vector<uint8_t> sound(kAudioChunkSize);
  for (size_t k = 0; k < records.size(); ++k) {
    SCOPED_TRACE("record " + std::to_string(k));
    const uint8_t* record = bytes.data() + report.first_record + k * kFrameRecordSize;
    DecodeFramePicture(record + kRecordHeaderSize, rgb.data());
    const ExpectedRecord& e = records[k];
    if (e.frame < 0) {
      EXPECT_EQ(rgb, std::vector<uint8_t>(kRgbPictureSize, 0));
    } else {
      EXPECT_EQ(rgb, track_test::QuantisedPicture(e.frame));
    }

    ExtractRecordSound(record, sound.data());
    std::vector<uint8_t> expected(kAudioChunkSize, kSilence);
    if (samples != nullptr) {
      if ((e.chunk + 1) * kAudioChunkSize <= samples->size()) {
        std::copy_n(samples->begin() + static_cast<ptrdiff_t>(e.chunk * kAudioChunkSize), kAudioChunkSize,
                    expected.begin());
      }
    } else if (e.frame < 0) {
      // Without sound the start record's frame block keeps its zero slots; only the
      // header's slots are silence.
      std::fill(expected.begin() + 40, expected.end(), 0x00);
    }
    EXPECT_EQ(sound, expected);
  }
}

TEST(TrackModuleRoundTrip, EveryTrackTheFilterWritesIsValidAndDecodesToItsSource) {
  struct Case {
    const char* name;
    int64_t frames;
    const char* breaks;
    long sound_bytes;  // -1: no sound file
    std::vector<std::vector<int64_t>> tracks;  // frames of each track's records; -1 the start record
  };
  const Case cases[] = {
      {"no sound, one track", 6, "", -1, {{-1, 1, 2, 3, 4, 5}}},
      {"two frames: the start record and frame 1", 2, "", -1, {{-1, 1}}},
      {"sound longer than the video", 5, "", 8 * 1960 + 3, {{-1, 1, 2, 3, 4}}},
      {"sound ends inside the third chunk", 6, "", 2 * 1960 + 1000, {{-1, 1, 2, 3, 4, 5}}},
      {"three tracks at frames 3 and 5", 8, "3;5", 10 * 1960, {{-1, 1, 2}, {3, 4}, {5, 6, 7}}},
      {"a break at frame 1 leaves the start record alone", 4, "1", -1, {{-1}, {1, 2, 3}}},
      {"breaks past the end", 3, "100", 1960 * 3, {{-1, 1, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<uint8_t> samples;
    std::string audio;
    if (c.sound_bytes >= 0) {
      samples = track_test::SoundRamp(static_cast<size_t>(c.sound_bytes));
      audio = dir.File("sound-in.wav");
      testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 2, samples));
    }
    const std::string out = dir.File("tracks");
    std::filesystem::create_directories(out);

    ModuleRender render;
    render.Configure(audio, out, c.breaks);
    const runner::RenderReport report = render.Render(c.frames);
    ASSERT_TRUE(report.ok) << (report.errors.empty() ? "" : report.errors.front());

    size_t chunk = 0;
    for (size_t t = 0; t < c.tracks.size(); ++t) {
      std::vector<ExpectedRecord> records;
      for (const int64_t frame : c.tracks[t]) records.push_back({frame, chunk++});
      ExpectTrackDecodes(out + "/" + TrackName(static_cast<int>(t + 1)), records,
                         c.sound_bytes >= 0 ? &samples : nullptr);
    }
    EXPECT_FALSE(testing::FileExists(out + "/" + TrackName(static_cast<int>(c.tracks.size() + 1))));
  }
}

TEST(TrackModuleRoundTrip, ASecondRenderStartsWithTheLastPictureOfTheFirst) {
  TempDir dir;
  ModuleRender render;
  render.Configure("", dir.path(), "");
  ASSERT_TRUE(render.Render(4).ok);
  ASSERT_TRUE(render.Render(3).ok);

  // The second encode's start record carries the frame block as the first encode
  // left it: frame 3's picture, with the encoder's silent slots.
  const std::vector<uint8_t> bytes = ReadFileBytes(dir.File(TrackName(1)));
  MemorySource source(bytes.data(), bytes.size());
  const TrackReport report = InspectTrack(source, InspectOptions{});
  EXPECT_TRUE(report.valid()) << ListProblems(report);
  ASSERT_EQ(report.record_count, 3u);
  EXPECT_EQ(report.records_with_sound, 0u);
  std::vector<uint8_t> rgb(kRgbPictureSize);
  const int64_t frames[] = {3, 1, 2};
  for (uint64_t k = 0; k < 3; ++k) {
    DecodeFramePicture(bytes.data() + 2092 + k * 19600 + 400, rgb.data());
    EXPECT_EQ(rgb, track_test::QuantisedPicture(frames[k])) << "record " << k;
  }
}

}  // namespace
}  // namespace trackloom::cli

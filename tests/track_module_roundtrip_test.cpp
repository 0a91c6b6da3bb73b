// Tracks written by the filter module, rendered through the replacement editor as
// the real editor would, read back by the track reader: every track is valid, every
// record's picture is the quantised source picture of its frame and every record's
// sound is the stretch of the sound file it read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/tracks/track_reader.h"
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

// What one record must decode to: the picture of a frame (frame < 0: the all-zero
// frame block of a fresh instance, black) and its 1960 audio slot bytes.
struct ExpectedRecord {
  int64_t frame;
  std::vector<uint8_t> slots;
};

constexpr int64_t kStart = -1;  // the start record of an encode

std::string TrackName(int number) { return testing::TrackFileName(number); }

std::string ListProblems(const TrackReport& r) {
  std::string text;
  for (const TrackProblem& p : r.problems) text += "  " + std::to_string(p.offset) + ": " + p.what + "\n";
  return text;
}

// Chunk k of the sound file in the slots, or silence once the file has no whole chunk left.
std::vector<uint8_t> Chunk(const std::vector<uint8_t>& samples, size_t k) {
  std::vector<uint8_t> slots(kAudioChunkSize, kSilence);
  if ((k + 1) * kAudioChunkSize <= samples.size()) {
    std::copy_n(samples.begin() + static_cast<ptrdiff_t>(k * kAudioChunkSize), kAudioChunkSize, slots.begin());
  }
  return slots;
}

// Without sound every slot is silent, the start record's included.
std::vector<uint8_t> NoSound(int64_t) { return std::vector<uint8_t>(kAudioChunkSize, kSilence); }

class ModuleRender {
 public:
  ModuleRender(runner::RaiseErrorMode mode = runner::RaiseErrorMode::kRecordAndThrow)
      : editor_(mode),
        module_(editor_, runner::ModuleExports{&VirtualdubFilterModuleInit2, &VirtualdubFilterModuleDeinit}),
        filter_(module_) {}

  void Configure(const std::string& audio, const std::string& directory, const std::string& breaks) {
    filter_.RunScriptLine("Config(1," + runner::QuoteScriptString(audio) + "," +
                          runner::QuoteScriptString(directory) + "," + runner::QuoteScriptString(breaks) + ")");
  }

  runner::RenderReport Render(int64_t frames, std::vector<int32_t> source_numbers = {},
                              const runner::RenderOptions& options = {}) {
    runner::PaintedFrameSource source(
        runner::FrameFormat{}, frames,
        [](int64_t index, uint32_t* pixels) {
          const std::vector<uint32_t> picture = track_test::Picture(index);
          std::memcpy(pixels, picture.data(), picture.size() * sizeof(uint32_t));
        },
        source_numbers.empty() ? runner::PaintedFrameSource::Numbering{}
                               : [source_numbers](int64_t i) { return source_numbers[static_cast<size_t>(i)]; });
    return filter_.Render(source, options);
  }

  runner::FilterInstance& filter() { return filter_; }

 private:
  runner::Editor editor_;
  runner::LoadedModule module_;
  runner::FilterInstance filter_;
};

// The reader finds the track valid and each record decodes to what it must hold.
void ExpectTrackDecodes(const std::string& path, const std::vector<ExpectedRecord>& records) {
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
    if (e.frame == kStart) {
      EXPECT_EQ(rgb, std::vector<uint8_t>(kRgbPictureSize, 0));
    } else {
      EXPECT_EQ(rgb, track_test::QuantisedPicture(e.frame));
    }
    ExtractRecordSound(record, sound.data());
    EXPECT_EQ(sound, e.slots);
  }
}

std::vector<int64_t> Frames(int64_t first, int64_t last, bool with_start = false) {
  std::vector<int64_t> v;
  if (with_start) v.push_back(kStart);
  for (int64_t i = first; i <= last; ++i) v.push_back(i);
  return v;
}

// The filter's render scenarios (breaks, source numbering, sound), each track read back.
TEST(TrackModuleRoundTrip, EveryTrackTheFilterWritesIsValidAndDecodesToItsSource) {
  struct Case {
    const char* name;
    int64_t frames;
    const char* breaks;
    std::vector<int32_t> source_numbers;  // empty: the output frame numbers
    long sound_bytes;                     // -1: no sound file
    std::vector<std::vector<int64_t>> tracks;  // the frame of each record of each track
  };
  const Case cases[] = {
      {"frame 0 only: nothing is encoded", 1, "", {}, -1, {}},
      {"the start record and frame 1", 2, "", {}, -1, {{kStart, 1}}},
      {"no sound, no breaks", 6, "", {}, -1, {Frames(1, 5, true)}},
      {"breaks 100 and 200", 300, "100;200", {}, -1, {Frames(1, 99, true), Frames(100, 199), Frames(200, 299)}},
      {"break at 1 leaves the start record alone", 4, "1", {}, -1, {{kStart}, {1, 2, 3}}},
      {"negative break", 4, "-5", {}, -1, {{kStart}, {1, 2, 3}}},
      {"one break per frame", 4, "-5;1", {}, -1, {{kStart}, {1}, {2, 3}}},
      {"several breaks passed at once", 6, "2;3;4", {0, 1, 5, 6, 7, 8}, -1, {{kStart, 1}, {2}, {3}, {4, 5}}},
      {"break beyond the last frame", 4, "50", {}, -1, {{kStart, 1, 2, 3}}},
      {"duplicate breaks", 4, "2;2", {}, -1, {{kStart, 1}, {2}, {3}}},
      {"source frames ahead of output frames", 4, "10", {0, 9, 10, 11}, -1, {{kStart, 1}, {2, 3}}},
      {"sound longer than the video", 5, "", {}, 8 * 1960 + 3, {Frames(1, 4, true)}},
      {"sound ends inside the third chunk", 6, "", {}, 2 * 1960 + 980, {Frames(1, 5, true)}},
      {"sound carries on across breaks", 8, "3;5", {}, 10 * 1960, {{kStart, 1, 2}, {3, 4}, {5, 6, 7}}},
      {"a sound file without samples", 3, "", {}, 0, {{kStart, 1, 2}}},
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
    const runner::RenderReport report = render.Render(c.frames, c.source_numbers);
    ASSERT_TRUE(report.ok) << (report.errors.empty() ? "" : report.errors.front());

    size_t chunk = 0;
    for (size_t t = 0; t < c.tracks.size(); ++t) {
      std::vector<ExpectedRecord> records;
      for (const int64_t frame : c.tracks[t]) {
        records.push_back({frame, c.sound_bytes >= 0 ? Chunk(samples, chunk++) : NoSound(frame)});
      }
      ExpectTrackDecodes(out + "/" + TrackName(static_cast<int>(t + 1)), records);
    }
    EXPECT_FALSE(testing::FileExists(out + "/" + TrackName(static_cast<int>(c.tracks.size() + 1))));
  }
}

TEST(TrackModuleRoundTrip, LaterEncodesInTheSameInstance) {
  TempDir dir;
  const std::vector<uint8_t> samples = track_test::SoundRamp(10 * 1960);
  const std::string audio = dir.File("sound-in.wav");
  testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 2, samples));
  const std::string out = dir.File("tracks");
  std::filesystem::create_directories(out);
  ModuleRender render;

  render.Configure(audio, out, "2");
  ASSERT_TRUE(render.Render(4).ok);
  ExpectTrackDecodes(out + "/" + TrackName(2), {{2, Chunk(samples, 2)}, {3, Chunk(samples, 3)}});

  // Without sound, the next encode's start record is black and silent: nothing of
  // the earlier film shows or sounds in it.
  render.Configure("", out, "");
  ASSERT_TRUE(render.Render(3).ok);
  ExpectTrackDecodes(out + "/" + TrackName(1), {{kStart, NoSound(kStart)}, {1, NoSound(1)}, {2, NoSound(2)}});

  // With the sound back, it starts from its beginning again.
  render.Configure(audio, out, "");
  ASSERT_TRUE(render.Render(2).ok);
  ExpectTrackDecodes(out + "/" + TrackName(1), {{kStart, Chunk(samples, 0)}, {1, Chunk(samples, 1)}});
}

TEST(TrackModuleRoundTrip, TracksLeftByStoppedAndFailedRendersAreValid) {
  // The editor stops after frame 4: the end callback finishes the open track.
  {
    TempDir dir;
    ModuleRender render;
    render.Configure("", dir.path(), "3");
    runner::RenderOptions options;
    options.on_frame = [](const runner::RenderProgress& p) { return p.frames_done < 5; };
    const runner::RenderReport report = render.Render(20, {}, options);
    EXPECT_TRUE(report.stopped);
    ExpectTrackDecodes(dir.File(TrackName(1)), {{kStart, NoSound(kStart)}, {1, NoSound(1)}, {2, NoSound(2)}});
    ExpectTrackDecodes(dir.File(TrackName(2)), {{3, NoSound(3)}, {4, NoSound(4)}});
  }
  // Track 02 cannot be created (a directory has its name): track 01 stays whole.
  for (const auto mode : {runner::RaiseErrorMode::kRecordAndReturn, runner::RaiseErrorMode::kRecordAndThrow}) {
    TempDir dir;
    const std::vector<uint8_t> samples = track_test::SoundRamp(8 * 1960);
    const std::string audio = dir.File("sound-in.wav");
    testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 2, samples));
    const std::string out = dir.File("tracks");
    std::filesystem::create_directories(out + "/" + TrackName(2));
    ModuleRender render(mode);
    render.Configure(audio, out, "2");
    const runner::RenderReport report = render.Render(5);
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.errors, std::vector<std::string>{"Failed to create output file"});
    ExpectTrackDecodes(out + "/" + TrackName(1), {{kStart, Chunk(samples, 0)}, {1, Chunk(samples, 1)}});
  }
}

}  // namespace
}  // namespace trackloom::cli

// Renders driven through the replacement editor: the start checks, the failures at
// the start of an encode, track breaks, sound, and the editor's two ways of raising
// an error. Every track is checked byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/track_format.h"
#include "core/wave_file.h"
#include "runner/editor.h"
#include "tests/scenario_support.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif

namespace trackloom::scenario {
namespace {

using runner::RaiseErrorMode;
using testing::TempDir;

constexpr RaiseErrorMode kModes[] = {RaiseErrorMode::kRecordAndReturn, RaiseErrorMode::kRecordAndThrow};
#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif
constexpr uint32_t kUnpainted = 0x12345678;  // what the output holds before the filter paints

const char* ModeName(RaiseErrorMode mode) {
  return mode == RaiseErrorMode::kRecordAndThrow ? "throwing editor" : "returning editor";
}

std::string TrackName(int n) { return testing::TrackFileName(n); }

bool AllPixels(const runner::FilterInstance& filter, uint32_t value) {
  // The last pixel is the editor's guard behind the picture.
  const auto& pixels = filter.output_pixels();
  return std::all_of(pixels.begin(), pixels.end() - 1, [&](uint32_t p) { return p == value; });
}

bool CanOpenExclusively(const std::string& path) {
  WaveFile* file = WaveFile::OpenForRead(path.c_str());
  const bool opened = file != nullptr;
  CloseAndFree(file);
  return opened;
}

#ifndef _WIN32
// A file-size limit (0: none) stands in for a full disk: a write past it fails with
// EFBIG instead of ending the process.
void SetFileSizeLimit(uint64_t bytes) {
  signal(SIGXFSZ, bytes == 0 ? SIG_DFL : SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = bytes == 0 ? limit.rlim_max : bytes;
  setrlimit(RLIMIT_FSIZE, &limit);
}
#else
void SetFileSizeLimit(uint64_t) {}
#endif

// Runs one step of a render and folds a thrown FilterError into the result 1, which
// is what the module returns when the editor's raise-error returns.
template <typename Fn>
int Step(RaiseErrorMode mode, Fn&& step) {
  if (mode == RaiseErrorMode::kRecordAndReturn) return step();
  try {
    const int result = step();
    return result;
  } catch (const runner::FilterError&) {
    return 1;
  }
}

TEST(ScenarioRender, StartChecksInOrder) {
  struct Case {
    const char* what;
    runner::FrameFormat source;
    int32_t output_depth;
    bool directory;
    const char* message;  // null: the start succeeds
  };
  const Case cases[] = {
      {"everything right", {144, 80, 32, 55556}, 32, true, nullptr},
      {"width", {160, 80, 32, 55556}, 32, true, "Width must be 144"},
      {"width before height", {0, 0, 32, 55556}, 32, true, "Width must be 144"},
      {"height", {144, 81, 32, 55556}, 32, true, "Height must be 80"},
      {"height before depth", {144, 79, 24, 55556}, 32, true, "Height must be 80"},
      {"depth", {144, 80, 24, 55556}, 32, true, "Depth must be 32-bit"},
      {"depth before output depth", {144, 80, 16, 55556}, 24, true, "Depth must be 32-bit"},
      {"output depth", {144, 80, 32, 55556}, 24, true, "Depth of dest must be 32-bit"},
      {"output depth before directory", {144, 80, 32, 55556}, 16, false, "Depth of dest must be 32-bit"},
      {"directory", {144, 80, 32, 55556}, 32, false, "No output directory specified"},
      // The frame rate is not a start check: it is checked when the encode begins.
      {"directory before frame rate", {144, 80, 32, 33333}, 32, false, "No output directory specified"},
      {"everything wrong", {1, 1, 8, 1}, 8, false, "Width must be 144"},
  };
  for (RaiseErrorMode mode : kModes) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", " + ModeName(mode));
      TempDir dir;
      runner::Editor editor(mode);
      auto module = OpenModule(editor);
      runner::FilterInstance filter(*module);
      if (c.directory) filter.RunScriptLine(ConfigLine("", dir.path(), ""));
      runner::PaintedFrameSource frames(c.source, 3, nullptr);
      runner::RenderOptions options;
      options.output.depth = c.output_depth;
      options.output.fill = kUnpainted;
      const runner::RenderReport report = filter.Render(frames, options);
      if (c.message == nullptr) {
        EXPECT_TRUE(report.ok);
        EXPECT_EQ(report.frames_run, 3);
        EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{TrackName(1)});
        continue;
      }
      EXPECT_EQ(report.start_result, 1);
      EXPECT_EQ(report.errors, std::vector<std::string>{c.message});
      EXPECT_EQ(report.frames_run, 0);
      EXPECT_EQ(report.end_result, 0);
      EXPECT_TRUE(ListDirectory(dir.path()).empty());
      EXPECT_TRUE(AllPixels(filter, kUnpainted)) << "a failed start painted the output";
    }
  }
}

TEST(ScenarioRender, EncodeStartFailuresInOrder) {
  enum class Sound { kNone, kMissing, kGood, k44100Hz, kMono, k16Bit, kTooShort };
  struct Case {
    const char* what;
    int32_t microseconds;
    Sound sound;
    bool directory_exists;
    const char* message;
    bool sound_left_open;  // the refused file stays open until the end callback
  };
  const Case cases[] = {
      {"30 fps", 33333, Sound::kNone, true, "Must convert to 18 fps", false},
      {"one microsecond short", 55555, Sound::kNone, true, "Must convert to 18 fps", false},
      {"one microsecond long", 55557, Sound::kNone, true, "Must convert to 18 fps", false},
      {"frame rate before sound", 40000, Sound::kMissing, false, "Must convert to 18 fps", false},
      {"missing sound file", 55556, Sound::kMissing, true, "Failed to open audio file", false},
      {"sound before directory", 55556, Sound::kMissing, false, "Failed to open audio file", false},
      {"44100 Hz sound", 55556, Sound::k44100Hz, true, "Audio file must be WAV, 17640 KHz, 8-bit Stereo", true},
      {"mono sound", 55556, Sound::kMono, true, "Audio file must be WAV, 17640 KHz, 8-bit Stereo", true},
      {"16-bit sound", 55556, Sound::k16Bit, true, "Audio file must be WAV, 17640 KHz, 8-bit Stereo", true},
      {"sound shorter than a header", 55556, Sound::kTooShort, true,
       "Audio file must be WAV, 17640 KHz, 8-bit Stereo", true},
      {"sound format before directory", 55556, Sound::kMono, false,
       "Audio file must be WAV, 17640 KHz, 8-bit Stereo", true},
      {"directory that does not exist", 55556, Sound::kNone, false, "Failed to create output file", false},
      {"directory after good sound", 55556, Sound::kGood, false, "Failed to create output file", true},
  };
  for (RaiseErrorMode mode : kModes) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.what) + ", " + ModeName(mode));
      TempDir out;
      TempDir sounds;
      std::string audio;
      switch (c.sound) {
        case Sound::kNone: break;
        case Sound::kMissing: audio = sounds.File("absent.wav"); break;
        case Sound::kGood: audio = sounds.File("good.wav"); break;
        case Sound::k44100Hz: audio = sounds.File("44100.wav"); break;
        case Sound::kMono: audio = sounds.File("mono.wav"); break;
        case Sound::k16Bit: audio = sounds.File("16bit.wav"); break;
        case Sound::kTooShort: audio = sounds.File("short.wav"); break;
      }
      const std::vector<uint8_t> samples = SoundSamples(4000);
      if (c.sound == Sound::kGood) testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 2, samples));
      if (c.sound == Sound::k44100Hz) testing::WriteFileBytes(audio, testing::MakeWav(44100, 8, 2, samples));
      if (c.sound == Sound::kMono) testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 1, samples));
      if (c.sound == Sound::k16Bit) testing::WriteFileBytes(audio, testing::MakeWav(17640, 16, 2, samples));
      if (c.sound == Sound::kTooShort) {
        std::vector<uint8_t> header = testing::MakeWav(17640, 8, 2, {});
        header.resize(43);
        testing::WriteFileBytes(audio, header);
      }
      const std::string directory = c.directory_exists ? out.path() : out.File("absent");

      runner::Editor editor(mode);
      auto module = OpenModule(editor);
      runner::FilterInstance filter(*module);
      filter.RunScriptLine(ConfigLine(audio, directory, "5"));
      runner::FrameFormat format;
      format.microseconds_per_frame = c.microseconds;
      runner::OutputFormat output;
      output.fill = kUnpainted;
      auto frames = Frames(2);
      std::optional<runner::Frame> frame0 = frames->Next();
      ASSERT_EQ(filter.Start(format, output), 0);
      // Frame 0 passes while idle, black; the encode begins at frame 1.
      ASSERT_EQ(filter.Run(frame0->picture, 0, 0), 0);
      EXPECT_TRUE(AllPixels(filter, 0x000000));
      std::optional<runner::Frame> frame1 = frames->Next();
      if (mode == RaiseErrorMode::kRecordAndThrow) {
        try {
          filter.Run(frame1->picture, 1, 1);
          ADD_FAILURE() << "the raise-error service did not throw";
        } catch (const runner::FilterError& e) {
          EXPECT_STREQ(e.what(), c.message);
        }
      } else {
        EXPECT_EQ(filter.Run(frame1->picture, 1, 1), 1);
      }
      EXPECT_EQ(editor.raised_errors(), std::vector<std::string>{c.message});
      EXPECT_TRUE(AllPixels(filter, 0x000000)) << "the failed frame painted the output";
      EXPECT_EQ(State(filter).output_track, nullptr);
      EXPECT_EQ(State(filter).audio_source != nullptr, c.sound_left_open);
      if (c.directory_exists) {
        EXPECT_TRUE(ListDirectory(out.path()).empty()) << "written after a failed check";
      }
      // Held exclusively while open, so a second open shows whether it still is.
      if (c.sound_left_open) {
        EXPECT_FALSE(CanOpenExclusively(audio)) << "the refused sound file was closed";
      }
      EXPECT_EQ(filter.End(), 0);
      EXPECT_EQ(State(filter).audio_source, nullptr) << "the end callback leaves the sound file open";
      if (c.sound_left_open) {
        EXPECT_TRUE(CanOpenExclusively(audio)) << "the end callback leaves the sound file open";
      }
      EXPECT_EQ(editor.raised_errors().size(), 1u);

      // The module is intact after the failure, thrown or not: the same instance,
      // set right, renders.
      TempDir again;
      filter.RunScriptLine(ConfigLine("", again.path(), ""));
      auto more = Frames(2);
      EXPECT_TRUE(filter.Render(*more).ok);
      ExpectTrack(again.File(TrackName(1)), {StartRecord(), ExpectedRecord(ExpectedBlock(1), nullptr)});
    }
  }
}

TEST(ScenarioRender, RetryWithoutEndReopensTheSound) {
  // The first track cannot be created, so the sound file stays open; an editor that
  // tries again without calling end gets a working encode from the sound's start.
  TempDir out;
  TempDir sounds;
  const std::vector<uint8_t> samples = SoundSamples(4 * kAudioChunkSize);
  const std::string audio = sounds.File("clip.wav");
  testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 2, samples));
  const std::string directory = out.File("later");
  runner::Editor editor(RaiseErrorMode::kRecordAndReturn);
  auto module = OpenModule(editor);
  runner::FilterInstance filter(*module);
  filter.RunScriptLine(ConfigLine(audio, directory, ""));
  auto frames = Frames(3);
  ASSERT_EQ(filter.Start(frames->format()), 0);
  const runner::Frame frame0 = *frames->Next();
  const runner::Frame frame1 = *frames->Next();
  EXPECT_EQ(filter.Run(frame0.picture, 0, 0), 0);
  EXPECT_EQ(filter.Run(frame1.picture, 1, 1), 1);
  EXPECT_EQ(editor.raised_errors(), std::vector<std::string>{"Failed to create output file"});
  EXPECT_NE(State(filter).audio_source, nullptr);

  std::filesystem::create_directory(directory);
  EXPECT_EQ(filter.Run(frame1.picture, 1, 1), 0);
  const runner::Frame frame2 = *frames->Next();
  EXPECT_EQ(filter.Run(frame2.picture, 2, 2), 0);
  EXPECT_EQ(filter.End(), 0);
  EXPECT_EQ(editor.raised_errors().size(), 1u);
  const std::vector<uint8_t> chunks[] = {SoundChunk(samples, 0), SoundChunk(samples, 1), SoundChunk(samples, 2)};
  ExpectTrack(directory + kSeparator + TrackName(1),
              {StartRecord(&chunks[0]), ExpectedRecord(ExpectedBlock(1), &chunks[1]),
               ExpectedRecord(ExpectedBlock(2), &chunks[2])});
}

TEST(ScenarioRender, TracksAndTheirFrames) {
  constexpr int kStart = -1;  // the start record of the encode
  struct Case {
    const char* what;
    const char* breaks;
    int64_t frames;
    std::vector<int32_t> source_numbers;  // empty: the output frame numbers
    std::vector<std::vector<int>> tracks;  // the frame (output index) of each record
  };
  auto range = [](int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i) v.push_back(i);
    return v;
  };
  std::vector<int> first_track{kStart};
  for (int i : range(1, 99)) first_track.push_back(i);
  const Case cases[] = {
      {"frame 0 only: nothing is encoded", "", 1, {}, {}},
      {"one frame after the start", "", 2, {}, {{kStart, 1}}},
      {"no breaks", "", 6, {}, {{kStart, 1, 2, 3, 4, 5}}},
      {"breaks 100 and 200", "100;200", 300, {}, {first_track, range(100, 199), range(200, 299)}},
      {"break at 1", "1", 4, {}, {{kStart}, {1, 2, 3}}},
      {"negative break", "-5", 4, {}, {{kStart}, {1, 2, 3}}},
      {"one break per frame", "-5;1", 4, {}, {{kStart}, {1}, {2, 3}}},
      {"several breaks passed at once", "2;3;4", 6, {0, 1, 5, 6, 7, 8}, {{kStart, 1}, {2}, {3}, {4, 5}}},
      {"break beyond the last frame", "50", 4, {}, {{kStart, 1, 2, 3}}},
      {"duplicate breaks", "2;2", 4, {}, {{kStart, 1}, {2}, {3}}},
      {"source frames ahead of output frames", "10", 4, {0, 9, 10, 11}, {{kStart, 1}, {2, 3}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    runner::Editor editor;
    auto module = OpenModule(editor);
    {
      runner::FilterInstance filter(*module);
      filter.RunScriptLine(ConfigLine("", dir.path(), c.breaks));
      auto frames = Frames(c.frames, c.source_numbers);
      const runner::RenderReport report = filter.Render(*frames);
      EXPECT_TRUE(report.ok) << (report.errors.empty() ? "" : report.errors[0]);
      EXPECT_EQ(report.frames_run, c.frames);
    }
    std::vector<std::string> names;
    for (size_t t = 0; t < c.tracks.size(); ++t) names.push_back(TrackName(static_cast<int>(t + 1)));
    ASSERT_EQ(ListDirectory(dir.path()), names);
    for (size_t t = 0; t < c.tracks.size(); ++t) {
      std::vector<std::vector<uint8_t>> records;
      for (int frame : c.tracks[t]) {
        records.push_back(frame == kStart ? StartRecord() : ExpectedRecord(ExpectedBlock(frame), nullptr));
      }
      ExpectTrack(dir.File(names[t]), records);
    }
  }
}

TEST(ScenarioRender, PictureOrientation) {
  // Only the top-left pixel is lit, pure red: its red nibble is the low nibble of the
  // block's first byte, whichever way the editor stores the rows.
  for (bool bottom_up : {false, true}) {
    SCOPED_TRACE(bottom_up ? "bottom-up buffer" : "top-down buffer, negative pitch");
    TempDir dir;
    runner::Editor editor;
    auto module = OpenModule(editor);
    {
      runner::FilterInstance filter(*module);
      filter.RunScriptLine(ConfigLine("", dir.path(), ""));
      runner::PaintedFrameSource frames(runner::FrameFormat{}, 2, [](int64_t, uint32_t* pixels) {
        pixels[0] = 0xFF0000;
      });
      frames.set_bottom_up(bottom_up);
      ASSERT_TRUE(filter.Render(frames).ok);
    }
    const std::vector<uint8_t> track = testing::ReadFileBytes(dir.File(TrackName(1)));
    ASSERT_EQ(track.size(), static_cast<size_t>(kFirstRecordOffset + 2 * kFrameRecordSize));
    const uint8_t* block = track.data() + kFirstRecordOffset + kFrameRecordSize + kRecordHeaderSize;
    EXPECT_EQ(block[0], 0x0F);
    for (size_t i = 1; i < kFrameBlockSize; ++i) {
      if (i % kGroupSize == kAudioSlotOffset) continue;
      ASSERT_EQ(block[i], 0) << "byte " << i;
    }
  }
}

TEST(ScenarioRender, Sound) {
  struct Case {
    const char* what;
    size_t sample_bytes;
    int64_t frames;
    const char* breaks;
    std::vector<std::vector<int>> tracks;  // frame of each record; -1 the start record
  };
  // Record k of the encode carries chunk k, in every track.
  const Case cases[] = {
      {"longer than the video", 5 * kAudioChunkSize, 4, "", {{-1, 1, 2, 3}}},
      {"two and a half chunks: silence after the last whole one", 2 * kAudioChunkSize + 980, 4, "",
       {{-1, 1, 2, 3}}},
      {"sound carries on across a break", 4 * kAudioChunkSize, 5, "2", {{-1, 1}, {2, 3, 4}}},
      {"no samples at all", 0, 3, "", {{-1, 1, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    TempDir sounds;
    const std::vector<uint8_t> samples = SoundSamples(c.sample_bytes);
    const std::string audio = sounds.File("clip.wav");
    testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 2, samples));
    runner::Editor editor;
    auto module = OpenModule(editor);
    {
      runner::FilterInstance filter(*module);
      filter.RunScriptLine(ConfigLine(audio, dir.path(), c.breaks));
      auto frames = Frames(c.frames);
      EXPECT_TRUE(filter.Render(*frames).ok);
      EXPECT_EQ(State(filter).audio_source, nullptr);
    }
    size_t chunk = 0;
    for (size_t t = 0; t < c.tracks.size(); ++t) {
      std::vector<std::vector<uint8_t>> records;
      for (int frame : c.tracks[t]) {
        const std::vector<uint8_t> sound = SoundChunk(samples, chunk++);
        records.push_back(ExpectedRecord(
            frame < 0 ? std::vector<uint8_t>(kFrameBlockSize, 0) : ExpectedBlock(frame), &sound));
      }
      ExpectTrack(dir.File(TrackName(static_cast<int>(t + 1))), records);
    }
  }
}

TEST(ScenarioRender, OutputFrameOneDuringAnEncode) {
  // An editor that starts over without calling end: frame 1 is an ordinary frame then.
  TempDir dir;
  runner::Editor editor;
  auto module = OpenModule(editor);
  runner::FilterInstance filter(*module);
  filter.RunScriptLine(ConfigLine("", dir.path(), ""));
  auto frames = Frames(5);
  ASSERT_EQ(filter.Start(frames->format()), 0);
  const std::pair<int32_t, int32_t> numbers[] = {{0, 0}, {1, 1}, {2, 2}, {1, 3}, {2, 4}};
  for (const auto& [output, source] : numbers) {
    std::optional<runner::Frame> frame = frames->Next();
    ASSERT_EQ(filter.Run(frame->picture, output, source), 0) << "output frame " << output;
  }
  EXPECT_EQ(State(filter).track_counter, 1);
  ASSERT_EQ(filter.End(), 0);
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{TrackName(1)});
  ExpectTrack(dir.File(TrackName(1)),
              {StartRecord(), ExpectedRecord(ExpectedBlock(1), nullptr), ExpectedRecord(ExpectedBlock(2), nullptr),
               ExpectedRecord(ExpectedBlock(3), nullptr), ExpectedRecord(ExpectedBlock(4), nullptr)});
}

TEST(ScenarioRender, SecondEncodeInTheSameInstance) {
  TempDir dir;
  TempDir sounds;
  const std::vector<uint8_t> samples = SoundSamples(10 * kAudioChunkSize);
  const std::string audio = sounds.File("clip.wav");
  testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 2, samples));
  runner::Editor editor;
  auto module = OpenModule(editor);
  runner::FilterInstance filter(*module);

  // First encode, with sound: records 0..3 carry chunks 0..3, split at frame 2.
  filter.RunScriptLine(ConfigLine(audio, dir.path(), "2"));
  auto first = Frames(4);
  ASSERT_TRUE(filter.Render(*first).ok);

  // Second encode, without sound and with the break beyond its frames: numbering
  // starts again at 01, which is overwritten; 02 stays from the first encode. The
  // start record is black and silent: nothing of the first film shows or sounds.
  filter.RunScriptLine(ConfigLine("", dir.path(), "2"));
  const std::vector<uint8_t> track02 = testing::ReadFileBytes(dir.File(TrackName(2)));
  auto second = Frames(2);
  ASSERT_TRUE(filter.Render(*second).ok);
  EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{TrackName(1), TrackName(2)}));
  ExpectTrack(dir.File(TrackName(1)), {StartRecord(), ExpectedRecord(ExpectedBlock(1), nullptr)});
  EXPECT_EQ(testing::ReadFileBytes(dir.File(TrackName(2))), track02);

  // A third encode with the sound back on starts the sound from its beginning.
  filter.RunScriptLine(ConfigLine(audio, dir.path(), ""));
  auto third = Frames(2);
  ASSERT_TRUE(filter.Render(*third).ok);
  const std::vector<uint8_t> chunk0 = SoundChunk(samples, 0);
  const std::vector<uint8_t> chunk1 = SoundChunk(samples, 1);
  ExpectTrack(dir.File(TrackName(1)), {StartRecord(&chunk0), ExpectedRecord(ExpectedBlock(1), &chunk1)});
}

// Track 02 cannot be made whole: its name is taken, or (where a file-size limit can
// stand in for a full disk) the disk fills in its lead-in or in its first record.
// Track 01 stays whole, and no part of track 02 is left.
TEST(ScenarioRender, TrackThatCannotBeCreatedAtABreak) {
  struct Case {
    const char* name;
    uint64_t size_limit;  // 0: none
    bool message;         // "Failed to create output file" (else only frame 2 fails)
    std::vector<std::string> left;
  };
  const Case cases[] = {
      {"a directory has its name", 0, true, {TrackName(1), TrackName(2)}},
#ifndef _WIN32
      // (The limit lets track 01's size fields be patched in place.)
      {"the disk fills in its lead-in", 1000, true, {TrackName(1)}},
      {"the disk fills in its first record", kFirstRecordOffset + 1000, false, {TrackName(1)}},
#endif
  };
  for (const Case& c : cases) {
    for (RaiseErrorMode mode : kModes) {
      SCOPED_TRACE(std::string(c.name) + ", " + ModeName(mode));
      TempDir dir;
      TempDir sounds;
      const std::vector<uint8_t> samples = SoundSamples(8 * kAudioChunkSize);
      const std::string audio = sounds.File("clip.wav");
      testing::WriteFileBytes(audio, testing::MakeWav(17640, 8, 2, samples));
      if (c.size_limit == 0) std::filesystem::create_directory(dir.File(TrackName(2)));

      runner::Editor editor(mode);
      auto module = OpenModule(editor);
      runner::FilterInstance filter(*module);
      filter.RunScriptLine(ConfigLine(audio, dir.path(), "2;4"));
      auto frames = Frames(5);
      ASSERT_EQ(filter.Start(frames->format()), 0);
      int results[5];
      for (int i = 0; i < 5; ++i) {
        std::optional<runner::Frame> frame = frames->Next();
        const bool limited = i == 2 && c.size_limit != 0;
        if (limited) SetFileSizeLimit(c.size_limit);
        results[i] = Step(mode, [&] { return filter.Run(frame->picture, i, i); });
        if (limited) SetFileSizeLimit(0);
        if (i == 2 && c.message) {
          // The encode is over; the sound file stays open until the end callback.
          EXPECT_EQ(State(filter).output_track, nullptr);
          EXPECT_NE(State(filter).audio_source, nullptr);
        }
        if (i == 2 && !c.message) break;  // the editor stops at the failed frame
      }
      // Frame 2 fails; an editor that carries on anyway finds the filter idle.
      EXPECT_EQ(results[0], 0);
      EXPECT_EQ(results[1], 0);
      EXPECT_EQ(results[2], 1);
      if (c.message) {
        EXPECT_EQ(results[3], 0);
        EXPECT_EQ(results[4], 0);
        EXPECT_TRUE(AllPixels(filter, 0x000000));
        EXPECT_EQ(editor.raised_errors(), std::vector<std::string>{"Failed to create output file"});
      } else {
        EXPECT_TRUE(editor.raised_errors().empty());
      }
      EXPECT_EQ(filter.End(), 0);
      EXPECT_EQ(State(filter).audio_source, nullptr);

      const std::vector<uint8_t> chunk0 = SoundChunk(samples, 0);
      const std::vector<uint8_t> chunk1 = SoundChunk(samples, 1);
      ExpectTrack(dir.File(TrackName(1)),
                  {StartRecord(&chunk0), ExpectedRecord(ExpectedBlock(1), &chunk1)});
      EXPECT_EQ(ListDirectory(dir.path()), c.left);
    }
  }
}

TEST(ScenarioRender, RenderStopsAtAFailedFrameAndStillEnds) {
  for (RaiseErrorMode mode : kModes) {
    SCOPED_TRACE(ModeName(mode));
    TempDir dir;
    runner::Editor editor(mode);
    auto module = OpenModule(editor);
    runner::FilterInstance filter(*module);
    filter.RunScriptLine(ConfigLine("", dir.path(), ""));
    runner::FrameFormat format;
    format.microseconds_per_frame = 33367;  // 29.97 frames per second
    runner::PaintedFrameSource frames(format, 10, &PaintFrame);
    const runner::RenderReport report = filter.Render(frames);
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.start_result, 0);
    EXPECT_EQ(report.failed_frame, 1);
    EXPECT_EQ(report.frames_run, 1);
    EXPECT_EQ(report.end_result, 0);
    EXPECT_FALSE(filter.rendering());
    EXPECT_EQ(report.errors, std::vector<std::string>{"Must convert to 18 fps"});
    EXPECT_TRUE(ListDirectory(dir.path()).empty());
  }
}

TEST(ScenarioRender, ProgressIsReportedAndCanStopTheRender) {
  TempDir dir;
  runner::Editor editor;
  auto module = OpenModule(editor);
  runner::FilterInstance filter(*module);
  filter.RunScriptLine(ConfigLine("", dir.path(), ""));
  auto frames = Frames(10);
  std::vector<int64_t> seen;
  runner::RenderOptions options;
  options.on_frame = [&](const runner::RenderProgress& p) {
    seen.push_back(p.frames_done);
    EXPECT_EQ(p.frames_total, 10);
    return p.frames_done < 4;
  };
  const runner::RenderReport report = filter.Render(*frames, options);
  EXPECT_TRUE(report.stopped);
  EXPECT_EQ(seen, (std::vector<int64_t>{1, 2, 3, 4}));
  // Frames 0..3 were rendered and the track finished: the start record and 1..3.
  ExpectTrack(dir.File(TrackName(1)), {StartRecord(), ExpectedRecord(ExpectedBlock(1), nullptr),
                                       ExpectedRecord(ExpectedBlock(2), nullptr),
                                       ExpectedRecord(ExpectedBlock(3), nullptr)});
}

}  // namespace
}  // namespace trackloom::scenario

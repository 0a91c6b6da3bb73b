// The trackloom command end to end, on clips made with FFmpeg's own test sources.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "cli/tracks/track_reader.h"
#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

constexpr size_t kFirstRecord = 2092;
constexpr size_t kRecordBytes = 19600;

std::string TrackPath(const TempDir& dir, const std::string& sub, int number) {
  return dir.File(sub) + "/" + testing::TrackFileName(number);
}

// Every track of a directory, checked to be a whole, correctly sized file.
std::vector<size_t> RecordCounts(const TempDir& dir, const std::string& sub) {
  std::vector<size_t> counts;
  for (int n = 1; FileExists(TrackPath(dir, sub, n)); ++n) {
    const std::vector<uint8_t> bytes = ReadFileBytes(TrackPath(dir, sub, n));
    EXPECT_GE(bytes.size(), kFirstRecord);
    EXPECT_EQ((bytes.size() - kFirstRecord) % kRecordBytes, 0u) << "track " << n;
    EXPECT_EQ(ReadLe32(bytes, 4), bytes.size() - 8) << "track " << n;
    EXPECT_EQ(ReadLe32(bytes, 40), bytes.size() - 44) << "track " << n;
    counts.push_back((bytes.size() - kFirstRecord) / kRecordBytes);
  }
  return counts;
}

std::string TestPattern(int width, int height, int rate, double seconds) {
  char text[128];
  std::snprintf(text, sizeof text, "testsrc=size=%dx%d:rate=%d:duration=%g", width, height, rate, seconds);
  return text;
}

bool AllEqual(const std::vector<uint8_t>& bytes, uint8_t value) {
  for (uint8_t b : bytes) {
    if (b != value) return false;
  }
  return true;
}

TEST(CliEncode, TrackAndRecordCountsFollowLengthRateAndBreaks) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 3), "-c:v", "ffv1", dir.File("c18.mkv")});
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 120, 30, 2), "-c:v", "ffv1", dir.File("c30.mkv")});
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 120, 25, 2), "-c:v", "mpeg4", dir.File("c25.mp4")});
  struct Case {
    const char* input;
    std::vector<std::string> options;  // a name ending in .mkv is one more INPUT
    std::vector<size_t> records;
    std::string out_has = "";  // in the summary
    std::string err_has = "";  // empty: no warning
  };
  const Case cases[] = {
      // At 18 fps source and output frames are the same numbers; the start record
      // stands in for output frame 0, so a track of frames 0..53 has 54 records.
      {"c18.mkv", {}, {54}},
      {"c18.mkv", {"--break", "18,36"}, {18, 18, 18}},
      {"c18.mkv", {"--break", "36;18"}, {18, 18, 18}},  // the filter sorts its list
      {"c18.mkv", {"--break-at", "0:01,2"}, {18, 18, 18}},
      // 30 fps: 2 s give 36 records; source frame 30 is shown at output frame 18.
      {"c30.mkv", {}, {36}},
      {"c30.mkv", {"--break", "30"}, {18, 18}},
      {"c30.mkv", {"--break-at", "1.5"}, {27, 9}},
      // 25 fps from a lossy file with B-frames.
      {"c25.mp4", {}, {36}},
      {"c25.mp4", {"--break", "25"}, {18, 18}},
      {"c18.mkv", {"--break-every", "1"}, {18, 18, 18}},
      {"c30.mkv", {"--break-every", "0:01", "--break", "45"}, {18, 9, 9}},
      // Exactly what the disc holds fits it (as 40:00 of video fits 80 minutes).
      {"c18.mkv", {"--disc-minutes", "0.1"}, {54}, "Disc time: 0:06 of 0.1 minutes."},
      // Three inputs over the disc together, each within it: one warning for all of
      // them before anything is written, and their total at the end.
      {"c18.mkv", {"c18.mkv", "c18.mkv", "--disc-minutes", "0.2"}, {54, 54, 54},
       "All 3 inputs: 3 tracks, 0:09.0 of video; disc time 0:18 of 0.2 minutes.",
       "trackloom: warning: about 0:18 of disc time expected for the 3 inputs together, more than a 0.2-minute disc "
       "holds\n"},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string out = "out" + std::to_string(index++);
    std::vector<std::string> args = {"encode", dir.File(c.input), "-o", dir.File(out), "--no-audio"};
    for (const std::string& o : c.options) args.push_back(o.ends_with(".mkv") ? dir.File(o) : o);
    const CommandResult r = RunTrackloom(args);
    SCOPED_TRACE(std::string(c.input) + " " + (c.options.empty() ? "" : c.options[1]));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(RecordCounts(dir, out), c.records);
    EXPECT_NE(r.out.find(c.out_has), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find(c.err_has.empty() ? "warning" : c.err_has) != std::string::npos, !c.err_has.empty()) << r.err;
  }
}

TEST(CliEncode, LosslessInputAtTheFiltersFormatPassesBitForBit) {
  TempDir dir;
  // Random components: any scaling, colour conversion or frame shift moves many of
  // them across a 4-bit step (every 17 values), which the records would show.
  constexpr int kFrames = 12;
  std::vector<uint8_t> raw(static_cast<size_t>(kFrames) * 144 * 80 * 4);
  std::mt19937 random(7);
  for (uint8_t& b : raw) b = static_cast<uint8_t>(random());
  WriteFileBytes(dir.File("in.bgra"), raw);
  Ffmpeg({"-f", "rawvideo", "-pix_fmt", "bgra", "-video_size", "144x80", "-framerate", "18", "-i",
          dir.File("in.bgra"), "-c:v", "rawvideo", "-pix_fmt", "bgra", dir.File("in.nut")});
  const CommandResult r = RunTrackloom({"encode", dir.File("in.nut"), "-o", dir.File("out"), "--no-audio"});
  ASSERT_EQ(r.status, 0) << r.err;
  const Track track = ReadTrack(TrackPath(dir, "out", 1));
  ASSERT_EQ(track.records(), static_cast<size_t>(kFrames));
  // The start record is black.
  EXPECT_TRUE(AllEqual(track.PictureNibbles(0), 0));
  for (int k = 1; k < kFrames; ++k) {
    const std::vector<uint8_t> nibbles = track.PictureNibbles(static_cast<size_t>(k));
    int mismatches = 0;
    for (int row = 0; row < 80; ++row) {
      for (int x = 0; x < 144; ++x) {
        const uint8_t* pixel = &raw[((static_cast<size_t>(k) * 80 + row) * 144 + x) * 4];  // B G R A
        const uint8_t rgb[3] = {pixel[2], pixel[1], pixel[0]};
        for (int c = 0; c < 3; ++c) {
          const int expected = (rgb[c] + 8) / 17;
          if (nibbles[(static_cast<size_t>(row) * 144 + x) * 3 + c] != expected) ++mismatches;
        }
      }
    }
    EXPECT_EQ(mismatches, 0) << "record " << k;
  }
}

// A white circle on grey, round as shown (its stored pixels are sar_num:sar_den), in
// a clip of the given size; turned, the clip's display matrix asks for a quarter turn.
std::string MakeCircleClip(const TempDir& dir, const std::string& name, int width, int height, int sar_num,
                           int sar_den, bool turned) {
  char graph[400];
  std::snprintf(graph, sizeof graph,
                "color=gray:size=%dx%d:rate=18:duration=0.3,format=gray,"
                "geq=lum='if(lte(hypot((X-W/2)*%d/%d,Y-H/2),0.3*min(W*%d/%d,H)),255,128)',setsar=%d/%d",
                width, height, sar_num, sar_den, sar_num, sar_den, sar_num, sar_den);
  const std::string path = dir.File(name + (turned ? ".mp4" : ".mkv"));
  if (!turned) {
    Ffmpeg({"-f", "lavfi", "-i", graph, "-c:v", "ffv1", path});
    return path;
  }
  const std::string upright = dir.File(name + "-upright.mp4");
  Ffmpeg({"-f", "lavfi", "-i", graph, "-c:v", "mpeg4", "-q:v", "2", upright});
  // FFmpeg 6.1 and later set the display matrix with an input option and no longer turn
  // a "rotate" tag into one; 5.1 knows only the tag. Both give the same matrix.
  const CommandResult turned_by_option = RunCommand(
      {"ffmpeg", "-nostdin", "-v", "error", "-y", "-display_rotation:v:0", "90", "-i", upright, "-c", "copy", path});
  if (turned_by_option.status != 0) Ffmpeg({"-i", upright, "-c", "copy", "-metadata:s:v:0", "rotate=90", path});
  return path;
}

// The shape rules by what a decoded picture shows: where the picture lies in 144 x 80
// (the black bands) and whether the circle is round on the 4:3 screen, where a stored
// pixel is 20:27, so a round circle is 1.35 times as many columns wide as rows high.
TEST(CliEncode, PicturesAreShapedForTheFourByThreeScreen) {
  TempDir dir;
  struct Case {
    const char* name;
    int width, height, sar_num, sar_den;
    bool turned;
    const char* fit;
    int left, right, top, bottom;  // the picture's extent in the record, inclusive
  };
  const Case cases[] = {
      {"4:3 fills the screen", 320, 240, 1, 1, false, "letterbox", 0, 143, 0, 79},
      {"16:9 has bands above and below", 320, 180, 1, 1, false, "letterbox", 0, 143, 10, 69},
      {"portrait stands upright", 180, 320, 1, 1, false, "letterbox", 41, 101, 0, 79},
      {"anamorphic 16:9 by its pixel shape", 360, 240, 32, 27, false, "letterbox", 0, 143, 10, 69},
      {"turned by its display matrix", 320, 180, 1, 1, true, "letterbox", 41, 101, 0, 79},
      {"16:9 cropped fills the screen", 320, 180, 1, 1, false, "crop", 0, 143, 0, 79},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string clip = MakeCircleClip(dir, "clip", c.width, c.height, c.sar_num, c.sar_den, c.turned);
    std::filesystem::remove_all(dir.File("out"));
    const CommandResult r = RunTrackloom({"encode", clip, "-o", dir.File("out"), "--no-audio", "--fit", c.fit});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<uint8_t> picture = ReadTrack(TrackPath(dir, "out", 1)).PictureNibbles(2);
    int left = 144, right = -1, top = 80, bottom = -1;
    int circle_left = 144, circle_right = -1, circle_top = 80, circle_bottom = -1;
    for (int y = 0; y < 80; ++y) {
      for (int x = 0; x < 144; ++x) {
        const int red = picture[(static_cast<size_t>(y) * 144 + static_cast<size_t>(x)) * 3];
        if (red > 0) {
          left = std::min(left, x), right = std::max(right, x);
          top = std::min(top, y), bottom = std::max(bottom, y);
        }
        if (red >= 12) {
          circle_left = std::min(circle_left, x), circle_right = std::max(circle_right, x);
          circle_top = std::min(circle_top, y), circle_bottom = std::max(circle_bottom, y);
        }
      }
    }
    EXPECT_NEAR(left, c.left, 1);
    EXPECT_NEAR(right, c.right, 1);
    EXPECT_NEAR(top, c.top, 1);
    EXPECT_NEAR(bottom, c.bottom, 1);
    const double circle_shape = (circle_right - circle_left + 1.0) / (circle_bottom - circle_top + 1.0);
    EXPECT_NEAR(circle_shape, 1.35, 0.08);
  }
}

// A slow grey ramp, still for a second: dithered, every block of 8 x 2 pixels (where
// each component meets all sixteen thresholds once) keeps the source's brightness;
// rounded, the steps of 17 show. Either way the still picture gives the same record
// every frame.
TEST(CliEncode, DitheringKeepsGradientsAndStaysStill) {
  TempDir dir;
  // 4:3, so the ramp fills the screen: 96 + 64 x / 288 in all three components.
  Ffmpeg({"-f", "lavfi", "-i",
          "color=black:size=288x216:rate=18:duration=1,format=rgb24,"
          "geq=r='96+64*X/W':g='96+64*X/W':b='96+64*X/W'",
          "-c:v", "ffv1", "-pix_fmt", "bgr0", dir.File("ramp.mkv")});
  struct Case {
    const char* dither;
    double least_error, most_error;  // of the worst block, in 8-bit steps
  };
  const Case cases[] = {{"ordered", 0, 3}, {"none", 6, 9}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dither);
    const std::string out = std::string("out-") + c.dither;
    const CommandResult r =
        RunTrackloom({"encode", dir.File("ramp.mkv"), "-o", dir.File(out), "--no-audio", "--dither", c.dither});
    ASSERT_EQ(r.status, 0) << r.err;
    const Track track = ReadTrack(TrackPath(dir, out, 1));
    ASSERT_EQ(track.records(), 18u);
    const std::vector<uint8_t> picture = track.PictureNibbles(1);
    for (size_t k = 2; k < track.records(); ++k) EXPECT_EQ(track.PictureNibbles(k), picture) << "record " << k;
    double worst = 0;
    for (int y = 0; y < 80; y += 2) {
      for (int x = 0; x < 144; x += 8) {
        for (int component = 0; component < 3; ++component) {
          double sum = 0;
          for (int dy = 0; dy < 2; ++dy) {
            for (int dx = 0; dx < 8; ++dx) {
              sum += 17 * picture[(static_cast<size_t>(y + dy) * 144 + static_cast<size_t>(x + dx)) * 3 +
                                  static_cast<size_t>(component)];
            }
          }
          // The source over the same 16 columns of 288 (area averaging keeps it).
          const double source = 96 + 64 * (2 * x + 7.5) / 288;
          worst = std::max(worst, std::fabs(sum / 16 - source));
        }
      }
    }
    EXPECT_GE(worst, c.least_error);
    EXPECT_LE(worst, c.most_error);
  }
}

// A dark vertical ramp (8 + 48 Y / H, the same in every component, 4:3 so it fills
// the screen), then for its second second with --break 18 a bright one: adaptive
// tables are the same in every record of a track, differ between tracks, and bring
// the shown picture closer to the source than the standard ones; --levels standard is
// the default, byte for byte.
TEST(CliEncode, AdaptiveLevelsAreChosenForEachTrack) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i",
          "color=black:size=288x216:rate=18:duration=2,format=rgb24,"
          "geq=r='if(lt(T,1),8+48*Y/H,150+60*Y/H)':g='if(lt(T,1),8+48*Y/H,150+60*Y/H)':"
          "b='if(lt(T,1),8+48*Y/H,150+60*Y/H)'",
          "-c:v", "ffv1", "-pix_fmt", "bgr0", dir.File("ramp.mkv")});
  struct Case {
    std::vector<std::string> options;
    bool adaptive;
    double most_error;  // RMS of the shown first track against the source, 8-bit steps
  };
  const Case cases[] = {{{}, false, 8}, {{"--levels", "standard"}, false, 8}, {{"--levels", "adaptive"}, true, 4.5}};
  std::vector<uint8_t> default_track;
  for (const Case& c : cases) {
    const std::string out = "out" + std::to_string(&c - cases);
    SCOPED_TRACE(out);
    std::vector<std::string> args = {"encode", dir.File("ramp.mkv"), "-o", dir.File(out), "--no-audio", "--break", "18"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CommandResult r = RunTrackloom(args);
    ASSERT_EQ(r.status, 0) << r.err;
    if (default_track.empty()) default_track = ReadFileBytes(TrackPath(dir, out, 1));
    if (!c.adaptive) {
      EXPECT_EQ(ReadFileBytes(TrackPath(dir, out, 1)), default_track);
    }
    std::vector<levels::Tables> tables;
    for (int n = 1; n <= 2; ++n) {
      const Track track = ReadTrack(TrackPath(dir, out, n));
      ASSERT_GE(track.records(), 2u);
      for (size_t k = 0; k < track.records(); ++k) {
        levels::Tables t{};
        ASSERT_TRUE(cli::ReadLevelTables(track.record(k), &t)) << "track " << n << " record " << k;
        if (k == 0) tables.push_back(t);
        EXPECT_TRUE(levels::SameTables(t, tables.back())) << "track " << n << " record " << k;
      }
    }
    EXPECT_EQ(!levels::SameTables(tables[0], tables[1]), c.adaptive);
    EXPECT_EQ(!levels::SameTables(tables[0], levels::StandardTables()), c.adaptive);
    for (int component = 0; component < levels::kComponents; ++component) {
      for (int n = 1; n < levels::kEntries; ++n) EXPECT_LT(tables[0].level[component][n - 1], tables[0].level[component][n]);
    }
    const Track first = ReadTrack(TrackPath(dir, out, 1));
    const std::vector<uint8_t> picture = first.PictureNibbles(first.records() - 1);
    double squares = 0;
    for (size_t i = 0; i < picture.size(); ++i) {
      const double source = 8 + 48 * (static_cast<double>(i / (144 * 3)) + 0.5) / 80;
      const double shown = levels::ShownValue(tables[0].level[i % 3][picture[i]]);
      squares += (shown - source) * (shown - source);
    }
    const double rms = std::sqrt(squares / static_cast<double>(picture.size()));
    EXPECT_LE(rms, c.most_error);
    EXPECT_GE(rms, c.adaptive ? 0 : c.most_error - 4) << "standard levels are coarser";
  }
}

TEST(CliEncode, SoundIsResampledFromTheInputOrTakenFromAnotherFile) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 2), "-f", "lavfi", "-i",
          "sine=frequency=441:sample_rate=48000:duration=2", "-c:v", "ffv1", "-c:a", "pcm_s16le",
          dir.File("with-sound.mkv")});
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 2), "-c:v", "ffv1", dir.File("silent.mkv")});

  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 2), "-f", "lavfi", "-i",
          "sine=frequency=441:sample_rate=44100:duration=2,volume=-12dB", "-f", "lavfi", "-i",
          "sine=frequency=882:sample_rate=44100:duration=2", "-filter_complex", "[1][2]amerge=inputs=2[s]",
          "-map", "0:v", "-map", "[s]", "-c:v", "ffv1", "-c:a", "pcm_s16le", dir.File("quiet-stereo.mkv")});

  // The input's own sound, converted: one 1960-byte chunk per record, a tone
  // throughout (2 s of sound cover all 36 records), levelled to the loudness asked
  // for without clipping. A sine's level in dBFS RMS sits about 2.4 dB below its
  // loudness in LUFS at these frequencies; sine's default amplitude is 1/8 of full
  // scale, -21 dBFS RMS, and mono reaches both channels at that level, not 3 dB less.
  struct Case {
    const char* input;
    std::vector<std::string> options;
    double left_rms_db;  // the level each channel should reach
    double right_rms_db;
    bool same_channels;
  };
  const Case cases[] = {
      {"with-sound.mkv", {}, -18.4, -18.4, true},
      {"with-sound.mkv", {"--loudness", "off"}, -21.1, -21.1, true},
      {"with-sound.mkv", {"--loudness=-10"}, -12.4, -12.4, true},
      // -33 and -21 dBFS RMS: both channels rise by one gain, 12 dB apart as before.
      {"quiet-stereo.mkv", {}, -28.0, -16.0, false},
      // Mixed down at 1/sqrt(2) each: -23.7 dBFS.
      {"quiet-stereo.mkv", {"--mono", "--loudness", "off"}, -23.8, -23.8, true},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File("levels");
    std::filesystem::remove_all(out);
    std::vector<std::string> args = {"encode", dir.File(c.input), "-o", out};
    args.insert(args.end(), c.options.begin(), c.options.end());
    CommandResult r = RunTrackloom(args);
    SCOPED_TRACE(args.back());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ListDirectory(out), std::vector<std::string>{"VDN Track 01.wav"});
    const Track track = ReadTrack(out + "/VDN Track 01.wav");
    ASSERT_EQ(track.records(), 36u);
    double energy[2] = {0, 0};
    size_t count = 0, differing = 0;
    int peak = 0;
    for (size_t k = 2; k + 2 < track.records(); ++k) {
      const std::vector<uint8_t> sound = track.Sound(k);
      for (size_t i = 0; i < sound.size(); i += 2, ++count) {
        for (int ch = 0; ch < 2; ++ch) {
          const int v = sound[i + static_cast<size_t>(ch)] - 0x80;
          energy[ch] += v * v;
          peak = std::max(peak, std::abs(v));
        }
        differing += sound[i] != sound[i + 1];
      }
    }
    auto db = [&](double e) { return 10 * std::log10(e / static_cast<double>(count) / (128.0 * 128.0)); };
    EXPECT_NEAR(db(energy[0]), c.left_rms_db, 1.0);
    EXPECT_NEAR(db(energy[1]), c.right_rms_db, 1.0);
    EXPECT_LT(peak, 127) << "clipped";
    EXPECT_EQ(differing == 0, c.same_channels);
  }

  // A canonical 8-bit stereo 17640 Hz file is used as it is, byte for byte; after
  // its end the records carry silence.
  std::vector<uint8_t> samples(1960 * 3 + 100);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<uint8_t>(i * 7 % 251);
  WriteFileBytes(dir.File("canonical.wav"), MakeWav(17640, 8, 2, samples));
  CommandResult r =
      RunTrackloom({"encode", dir.File("silent.mkv"), "-o", dir.File("b"), "--audio", dir.File("canonical.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListDirectory(dir.File("b")), std::vector<std::string>{"VDN Track 01.wav"});
  Track track = ReadTrack(TrackPath(dir, "b", 1));
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(track.Sound(k), std::vector<uint8_t>(samples.begin() + static_cast<long>(k * 1960),
                                                   samples.begin() + static_cast<long>((k + 1) * 1960)));
  }
  EXPECT_TRUE(AllEqual(track.Sound(3), 0x80));  // a short read gives silence
  EXPECT_TRUE(AllEqual(track.Sound(35), 0x80));

  // The same with a chunk of tags after the samples: handed over as it is, the
  // filter would play the chunk's bytes as sound; converted, only the samples remain,
  // byte for byte (the format is already the tracks').
  std::vector<uint8_t> tagged = MakeWav(17640, 8, 2, samples);
  const std::vector<uint8_t> tags = {'L', 'I', 'S', 'T', 0xF4, 0x0F, 0, 0, 'I', 'N', 'F', 'O'};
  tagged.insert(tagged.end(), tags.begin(), tags.end());
  tagged.resize(tagged.size() + 4084, 'x');
  WriteFileBytes(dir.File("tagged.wav"), tagged);
  r = RunTrackloom({"encode", dir.File("silent.mkv"), "-o", dir.File("t"), "--audio", dir.File("tagged.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  track = ReadTrack(TrackPath(dir, "t", 1));
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(track.Sound(k), std::vector<uint8_t>(samples.begin() + static_cast<long>(k * 1960),
                                                   samples.begin() + static_cast<long>((k + 1) * 1960)));
  }
  EXPECT_TRUE(AllEqual(track.Sound(3), 0x80));
  EXPECT_TRUE(AllEqual(track.Sound(4), 0x80));

  // Another format in another file is converted: 16-bit mono at 8000 Hz.
  Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=200:sample_rate=8000:duration=1", "-c:a", "pcm_s16le",
          dir.File("other.wav")});
  r = RunTrackloom({"encode", dir.File("silent.mkv"), "-o", dir.File("c"), "--audio", dir.File("other.wav")});
  ASSERT_EQ(r.status, 0) << r.err;
  track = ReadTrack(TrackPath(dir, "c", 1));
  EXPECT_FALSE(AllEqual(track.Sound(5), 0x80));
  EXPECT_TRUE(AllEqual(track.Sound(20), 0x80));  // 1 s of sound covers 18 records

  // No sound: an input without any, with a note, and --no-audio. Every slot is
  // silent, the start record's included.
  r = RunTrackloom({"encode", dir.File("silent.mkv"), "-o", dir.File("d")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("has no audio stream"), std::string::npos) << r.err;
  r = RunTrackloom({"encode", dir.File("with-sound.mkv"), "-o", dir.File("e"), "--no-audio"});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* sub : {"d", "e"}) {
    track = ReadTrack(TrackPath(dir, sub, 1));
    EXPECT_TRUE(AllEqual(track.Sound(0), 0x80)) << sub;
    for (size_t k = 1; k < track.records(); ++k) EXPECT_TRUE(AllEqual(track.Sound(k), 0x80)) << sub << k;
  }
}

// A still picture is shown for as long as its sound plays: a photo with a sound file,
// and an MP3's cover art with the MP3's own sound. Every record shows the picture as a
// clip of it would, and carries the tone; breaks still cut.
TEST(CliEncode, StillPictureIsShownForTheWholeSound) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=1", "-frames:v", "1", dir.File("photo.png")});
  Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=441:sample_rate=44100:duration=3", dir.File("tone.wav")});
  Ffmpeg({"-i", dir.File("tone.wav"), "-i", dir.File("photo.png"), "-map", "0", "-map", "1", "-c:a", "libmp3lame",
          "-c:v", "png", "-disposition:v", "attached_pic", dir.File("cover.mp3")});
  Ffmpeg({"-loop", "1", "-framerate", "18", "-i", dir.File("photo.png"), "-t", "1", "-c:v", "ffv1",
          dir.File("clip.mkv")});
  CommandResult r = RunTrackloom({"encode", dir.File("clip.mkv"), "-o", dir.File("clip"), "--no-audio"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> picture = ReadTrack(TrackPath(dir, "clip", 1)).PictureNibbles(1);
  struct Case {
    std::vector<std::string> args;
    std::vector<size_t> records;  // 3 s at 18 records a second
  };
  const Case cases[] = {
      {{"photo.png", "--audio", "tone.wav"}, {54}},
      {{"cover.mp3"}, {54}},
      {{"cover.mp3", "--break-at", "1,0:02"}, {18, 18, 18}},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string out = "out" + std::to_string(index++);
    std::vector<std::string> args = {"encode", "-o", dir.File(out)};
    for (const std::string& a : c.args) args.push_back(a.find('.') != std::string::npos ? dir.File(a) : a);
    SCOPED_TRACE(args[3] + " " + args.back());
    r = RunTrackloom(args);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(RecordCounts(dir, out), c.records);
    double energy = 0;
    size_t samples = 0;
    for (size_t n = 1; n <= c.records.size(); ++n) {
      const Track track = ReadTrack(TrackPath(dir, out, static_cast<int>(n)));
      for (size_t k = 1; k < track.records(); ++k) {
        EXPECT_EQ(track.PictureNibbles(k), picture) << "track " << n << " record " << k;
        for (uint8_t v : track.Sound(k)) energy += (v - 0x80) * (v - 0x80), ++samples;
      }
    }
    // The tone throughout, levelled to -16 LUFS: -18.4 dBFS RMS, as any input's sound.
    EXPECT_NEAR(10 * std::log10(energy / static_cast<double>(samples) / (128.0 * 128.0)), -18.4, 1.0);
  }
}

TEST(CliEncode, SettingsFileIsRunFirstAndOptionsOverrideIt) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 2), "-c:v", "ffv1", dir.File("clip.mkv")});
  std::ofstream(dir.File("settings.vcf"))
      << "// saved by trackloom configure\n"
      << "VirtualDub.video.filters.instance[0].Config(1,\"\",\"" << dir.File("from-settings")
      << "\",\"18;27\");\r\n";
  CommandResult r = RunTrackloom({"encode", dir.File("clip.mkv"), "--settings", dir.File("settings.vcf")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RecordCounts(dir, "from-settings"), (std::vector<size_t>{18, 9, 9}));

  r = RunTrackloom({"encode", dir.File("clip.mkv"), "--settings", dir.File("settings.vcf"), "-o",
                    dir.File("from-option"), "--break", "9"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RecordCounts(dir, "from-option"), (std::vector<size_t>{9, 27}));

  std::ofstream(dir.File("bad.vcf")) << "\nConfig(1,\"a\",\"b\" \"c\")\n";
  r = RunTrackloom({"encode", dir.File("clip.mkv"), "--settings", dir.File("bad.vcf"), "-o", dir.File("x")});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("bad.vcf:2: column"), std::string::npos) << r.err;
}

TEST(CliEncode, InterruptFinishesTheOpenTrackAndExits130) {
  TempDir dir;
  // The input comes through a pipe that the test holds open, so the encode is
  // certainly still running, waiting for more, when Ctrl-C arrives.
  // Its sound is read once, so it comes from a file of its own, converted into a
  // temporary file that the interrupt must remove too.
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(144, 80, 18, 4), "-c:v", "rawvideo", "-pix_fmt", "bgra",
          dir.File("clip.nut")});
  Ffmpeg({"-f", "lavfi", "-i", "sine=duration=4", "-c:a", "pcm_s16le", dir.File("sound.wav")});
  const std::vector<uint8_t> clip = ReadFileBytes(dir.File("clip.nut"));
  // A Windows program cannot read a Unix FIFO: there a half-hour clip keeps it busy.
  const bool windows = TrackloomIsWindows();
  if (windows) {
    Ffmpeg({"-f", "lavfi", "-i", "color=c=teal:size=144x80:rate=18:duration=1800", "-c:v", "libx264", "-preset",
            "ultrafast", dir.File("pipe.nut")});
  } else {
    ASSERT_EQ(mkfifo(dir.File("pipe.nut").c_str(), 0600), 0);
  }
  const pid_t pid = StartTrackloom({"encode", dir.File("pipe.nut"), "-o", dir.File("out"), "--audio",
                                    dir.File("sound.wav"), "--break", "10"}, dir.path());
  {
    std::ofstream pipe(windows ? dir.File("unused") : dir.File("pipe.nut"), std::ios::binary);
    pipe.write(reinterpret_cast<const char*>(clip.data()), static_cast<std::streamsize>(clip.size() / 2));
    pipe.flush();
    // Wait until the second track has records, then interrupt.
    const std::string second = TrackPath(dir, "out", 2);
    for (int i = 0; i < 500; ++i) {
      struct stat st {};
      if (stat(second.c_str(), &st) == 0 && st.st_size > static_cast<off_t>(kFirstRecord + 5 * kRecordBytes)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    SignalTrackloom(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  const CommandResult r = WaitFor(pid, dir.path());
  EXPECT_EQ(r.status, 130) << r.err;
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
  const std::vector<size_t> counts = RecordCounts(dir, "out");
  ASSERT_EQ(counts.size(), 2u);
  EXPECT_EQ(counts[0], 10u);
  EXPECT_GT(counts[1], 5u);
  if (!windows) {
    EXPECT_LT(counts[1], 62u);  // half the clip, through the pipe
  }
  EXPECT_EQ(ListDirectory(dir.File("out")), (std::vector<std::string>{"VDN Track 01.wav", "VDN Track 02.wav"}));
}

TEST(CliEncode, FailuresGiveOneLineAndANonZeroStatus) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 1), "-c:v", "ffv1", dir.File("clip.mkv")});
  Ffmpeg({"-f", "lavfi", "-i", "sine=duration=1", dir.File("sound.wav")});
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(144, 80, 18, 1), "-frames:v", "1", "-c:v", "ffv1", dir.File("one.mkv")});
  WriteFileBytes(dir.File("text.mp4"), std::vector<uint8_t>(300, 'x'));
  WriteFileBytes(dir.File("a-file"), {1, 2, 3});
  // An AVI whose header claims 5/13421773 fps: 20 pictures that would last 621 days.
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 10, 2), "-c:v", "mjpeg", dir.File("slow.avi")});
  std::vector<uint8_t> avi = ReadFileBytes(dir.File("slow.avi"));
  const size_t strh = std::string(avi.begin(), avi.end()).find("strh");
  ASSERT_NE(strh, std::string::npos);
  for (int i = 0; i < 4; ++i) {  // AVISTREAMHEADER.dwScale, .dwRate
    avi[strh + 28 + i] = static_cast<uint8_t>(13421773 >> (8 * i));
    avi[strh + 32 + i] = static_cast<uint8_t>(5 >> (8 * i));
  }
  WriteFileBytes(dir.File("slow.avi"), avi);
  // A track that cannot be created: its name is taken by a directory.
  std::filesystem::create_directories(dir.File("blocked") + "/VDN Track 01.wav");
  // A track of records stands in for a retail disc's first track.
  ASSERT_EQ(RunTrackloom({"encode", dir.File("clip.mkv"), "-o", dir.File("first"), "--no-audio", "-q"}).status, 0);
  const std::string first = TrackPath(dir, "first", 1);
  const std::string clip = dir.File("clip.mkv");
  const std::string out = dir.File("out");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {{"encode", dir.File("missing.mp4"), "-o", out}, 1, "cannot read '" + dir.File("missing.mp4") + "'"},
      {{"encode", dir.File("text.mp4"), "-o", out}, 1, "cannot read"},
      {{"encode", dir.File("sound.wav"), "-o", out}, 1, "is sound without a picture"},
      {{"encode", dir.File("slow.avi"), "-o", out}, 1, "of disc time by its header, more than 4 times"},
      // Disc time is weighed for every input together before anything is written.
      {{"encode", clip, clip, clip, "-o", out, "--no-audio", "--disc-minutes", "0.01"}, 1,
       "trackloom: the 3 inputs would take together about 0:06 of disc time by their headers, more than 4 times"},
      // 2 s of disc time in one track, over a 1.2 s disc.
      {{"encode", clip, "-o", out, "--disc-minutes", "0.02"}, 1,
       "trackloom: track 1 of '" + clip + "' would take 0:02 of disc time, more than a 0.02-minute disc holds, so "
       "it could never be burned: break it with --break-at TIMES or --break-every DURATION, or raise --disc-minutes"},
      {{"encode", clip, "-o", out, "--no-audio", "--disc", out + "/d", "--first", first, "--disc-minutes", "0.2"}, 1,
       "track 1 of the encode alone does not fit one disc: the disc would last 0:14, more than the 0:12 a "
       "0.2-minute blank holds (--disc-minutes); break it into shorter tracks"},
      {{"encode", clip, "-o", out, "--break-every", "0.5"}, 2, "--break-every takes a duration of at least 1 s"},
      {{"encode", clip}, 2, "no output directory"},
      // Output frame 0 is never written, so one picture makes no track.
      {{"encode", dir.File("one.mkv"), "-o", out, "--no-audio"}, 1, "is too short: it gave 1 picture at 18 fps"},
      {{"encode", clip, "-o", dir.File("a-file") + "/sub"}, 1, "cannot create the output directory"},
      {{"encode", clip, "-o", dir.File("a-file")}, 1, "output"},
      {{"encode", clip, "-o", dir.File("blocked"), "--no-audio", "--overwrite"}, 1,
       "trackloom: Failed to create output file: cannot write '" + dir.File("blocked") +
           "/VDN Track 01.wav': a directory of that name is in the way; no track was written\n"},
      {{"encode", clip, "-o", out, "--audio", dir.File("missing.wav")}, 1, "cannot read the sound file"},
      {{"encode", clip, "-o", out, "--audio", dir.File("text.mp4")}, 1, "cannot read"},
      {{"encode", clip, "-o", out, "--settings", dir.File("missing.vcf")}, 1, "cannot read the settings file"},
      {{"encode", clip, "-o", out, "--fit", "zoom"}, 2, "--fit takes letterbox, crop or stretch, not 'zoom'"},
      {{"encode", clip, "-o", out, "--sampling", "dots"}, 2, "--sampling takes pixel or subpixel, not 'dots'"},
      {{"encode", clip, "-o", out, "--levels", "even"}, 2, "--levels takes standard or adaptive, not 'even'"},
      {{"encode", clip, "-o", out, "--video-stream", "first"}, 2, "--video-stream takes a stream number"},
      {{"encode", clip, "-o", out, "--video-stream", "3"}, 1, "has no video stream 3 (its video streams: 0)"},
      {{"encode", clip, "-o", out, "--break", "ten"}, 2, "--break takes frame numbers"},
      {{"encode", clip, "-o", out, "--break-at", "1:75"}, 2, "--break-at takes times"},
      {{"encode", clip, "-o", out, "--disc-minutes", "-3"}, 2, "--disc-minutes"},
      {{"encode", clip, "-o", out, "--audio", "x.wav", "--no-audio"}, 2, "contradict"},
      {{"encode", clip, "-o", out, "--frobnicate"}, 2, "unknown option '--frobnicate'"},
      {{"encode", "-o", out}, 2, "no input video"},
      {{"encode", clip, "-o"}, 2, "-o needs a directory"},
      {{"frobnicate"}, 2, "unknown command"},
  };
  for (const Case& c : cases) {
    const CommandResult r = RunTrackloom(c.args);
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    EXPECT_EQ(r.status, c.status) << joined << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << joined << "\n" << r.err;
    // One line, no FFmpeg chatter.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << joined << "\n" << r.err;
  }
  // Nothing is left behind: no track, no temporary sound file.
  EXPECT_EQ(ListDirectory(out), std::vector<std::string>{});
}

TEST(CliEncode, LongGapsInThePicturesAreCutAndDiscTimeIsBounded) {
  TempDir dir;
  // Two pictures 100000 s apart; the same 20 s apart with sound playing throughout.
  // The pictures are picked out rather than spaced out with setpts, which from FFmpeg 7
  // leaves each picture no duration: the last one would end at once and be lost.
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 1, 100001), "-vf", "select='eq(n,0)+eq(n,100000)'", "-fps_mode",
          "passthrough", "-c:v", "ffv1", dir.File("gap.mkv")});
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 1, 21), "-f", "lavfi", "-i", "sine=duration=21", "-vf",
          "select='eq(n,0)+eq(n,20)'", "-fps_mode", "passthrough", "-c:v", "ffv1", "-c:a", "flac",
          dir.File("slides.mkv")});
  // A stream that cannot tell its length in advance.
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 10), "-c:v", "mpeg2video", dir.File("long.ts")});
  struct Case {
    std::vector<std::string> args;
    std::string stdin_path;
    int status;
    size_t records;
    std::string message;
  };
  const Case cases[] = {
      {{"gap.mkv", "--no-audio", "--disc-minutes", "100000"}, "", 0, 19, "1 such gap was cut to one frame"},
      {{"slides.mkv"}, "", 0, 21 * 18, ""},
      // 4 times a disc of 3 s: 12 s, 108 records.
      {{"pipe:0", "--no-audio", "--disc-minutes", "0.05"}, "long.ts", 1, 108, "the encode stopped there"},
  };
  int index = 0;
  for (const Case& c : cases) {
    const std::string out = "out" + std::to_string(index++);
    std::vector<std::string> args = {"encode", c.args[0] == "pipe:0" ? c.args[0] : dir.File(c.args[0]), "-o",
                                     dir.File(out)};
    args.insert(args.end(), c.args.begin() + 1, c.args.end());
    RunOptions options;
    if (!c.stdin_path.empty()) options.stdin_path = dir.File(c.stdin_path);
    const CommandResult r = RunTrackloom(args, options);
    SCOPED_TRACE(c.args[0]);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(RecordCounts(dir, out), std::vector<size_t>{c.records});
  }
}

TEST(CliEncode, FullDiskEndsWithCompleteTracksAndAClearMessage) {
  if (TrackloomIsWindows())
    GTEST_SKIP() << "ulimit -f is no Windows limit; the fault table's small disks stand in";
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 2), "-c:v", "ffv1", dir.File("clip.mkv")});
  RunOptions limited;
  // Room for the header, the lead-in and 5.5 records: the sixth record's write runs
  // out of space half-way.
  limited.file_size_limit = kFirstRecord + 5 * kRecordBytes + kRecordBytes / 2;
  const CommandResult r =
      RunTrackloom({"encode", dir.File("clip.mkv"), "-o", dir.File("out"), "--no-audio"}, limited);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("writing frame 5 to '" + TrackPath(dir, "out", 1) + "' failed"), std::string::npos) << r.err;
  // The partial record is cut off and the size fields fit the whole ones.
  EXPECT_EQ(RecordCounts(dir, "out"), std::vector<size_t>{5});
}

TEST(CliEncode, SummaryJsonAndDiscTimeWarning) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 2), "-c:v", "ffv1", dir.File("clip.mkv")});
  CommandResult r = RunTrackloom({"encode", dir.File("clip.mkv"), "-o", dir.File("a"), "--no-audio",
                                  "--break", "18", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  for (const char* part : {"\"records\": 18, \"video_seconds\": 1.000, \"disc_seconds\": 2.012}",
                           "\"records\": 36, \"video_seconds\": 2.000", "\"over_disc_limit\": false",
                           "\"interrupted\": false, \"ok\": true, \"removed\": []}"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
  // 36 records take 4 s of disc time: over a 3-second (0.05-minute) limit, known in
  // advance; each track of 2 s fits it.
  r = RunTrackloom({"encode", dir.File("clip.mkv"), "-o", dir.File("b"), "--no-audio", "--disc-minutes", "0.05",
                    "--break", "18"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("warning: about 0:04 of disc time expected, more than a 0.05-minute disc holds"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("VDN Track 01.wav        18 records"), std::string::npos) << r.out;
  r = RunTrackloom({"encode", dir.File("clip.mkv"), "-o", dir.File("c"), "--no-audio", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "");
  // A failure still gives the summary, marked, with the reason.
  std::filesystem::create_directories(dir.File("d") + "/VDN Track 01.wav");
  r = RunTrackloom({"encode", dir.File("clip.mkv"), "-o", dir.File("d"), "--no-audio", "--json", "--overwrite"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"tracks\": [], \"records\": 0,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"ok\": false, \"removed\": [], \"error\": \"Failed to create output file: cannot write"),
            std::string::npos)
      << r.out;
}

// On a terminal every pass over the input shows how far it is, and what is known
// before the passes (the disc-time warning) comes first.
TEST(CliEncode, ProgressOnATerminalFollowsTheDiscWarning) {
  if (TrackloomIsWindows())
    GTEST_SKIP() << "wine gives a Windows program no console on a Unix terminal";
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", TestPattern(160, 90, 18, 3), "-f", "lavfi", "-i", "sine=duration=3", "-c:v", "ffv1",
          "-c:a", "flac", dir.File("sound.mkv")});
  struct Case {
    std::string options;
    std::vector<std::string> in_order;  // on the terminal, one after the other
  };
  const Case cases[] = {
      {"--disc-minutes 0.05 --break 27",
       {"warning: about 0:06 of disc time expected", "measuring the loudness: 0:00 of 0:03", "frame "}},
      {"--loudness off", {"converting the sound: 0:00 of 0:03", "frame "}},
      {"--no-audio", {"frame 1/54"}},
  };
  int index = 0;
  for (const Case& c : cases) {
    // script(1) gives the command a terminal of its own and passes on what it shows.
    const std::string line = std::string(TRACKLOOM_BINARY) + " encode '" + dir.File("sound.mkv") + "' -o '" +
                             dir.File("t" + std::to_string(index++)) + "' " + c.options;
    const CommandResult r = RunCommand({"script", "-qefc", line, "/dev/null"});
    SCOPED_TRACE(c.options + "\n" + r.out);
    ASSERT_EQ(r.status, 0);
    size_t at = 0;
    for (const std::string& part : c.in_order) {
      at = r.out.find(part, at);
      ASSERT_NE(at, std::string::npos) << part;
    }
  }
}

TEST(CliEncode, DemoMakesTwoTracksWithSound) {
  TempDir dir;
  const CommandResult r = RunTrackloom({"demo", "-o", dir.File("demo")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(RecordCounts(dir, "demo"), (std::vector<size_t>{108, 108}));
  EXPECT_FALSE(AllEqual(ReadTrack(TrackPath(dir, "demo", 2)).Sound(50), 0x80));
  EXPECT_NE(r.out.find("Wrote 2 tracks"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace trackloom::testing

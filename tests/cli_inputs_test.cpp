// trackloom encode on the inputs people have: every container, codec, sound format,
// rate, size and pixel format FFmpeg's own encoders make here, and damaged files.
// Each gives valid tracks of about 18 records a second, or one line saying why not.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "cli/tracks/track_reader.h"
#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

std::vector<std::string> Picture(const std::string& size, const std::string& rate, double seconds) {
  return {"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=" + rate + ":duration=" + std::to_string(seconds)};
}

std::vector<std::string> Sound(int rate, const std::string& layout, double seconds) {
  return {"-f", "lavfi", "-i",
          "sine=frequency=500:sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds) +
              ",aformat=channel_layouts=" + layout};
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

bool HasEncoder(const std::string& name) {
  return RunCommand({"ffmpeg", "-hide_banner", "-h", "encoder=" + name}).out.find("Encoder " + name) !=
         std::string::npos;
}

enum class Damage { kNone, kTruncated, kCorrupted };

struct Input {
  std::string file;  // its extension picks the container
  std::vector<std::string> make;  // ffmpeg's inputs and options before the file name
  double seconds;    // of pictures; 0: refused with error; below 0: damaged, anything sane
  bool sound;
  double sound_from = 0;  // seconds
  Damage damage = Damage::kNone;
  std::string error;
  bool memcheck = false;  // also run under a test wrapper such as valgrind
  std::vector<std::string> then = {};  // a second file made so and appended to the first
  bool piped = false;  // given as '-', its bytes through a pipe
  uint64_t size_limit = 0;  // ulimit -f: no file, a copy of the input included, may grow past it
  std::string note = {};  // run without --quiet: the one line of notes it gives
};

TEST(CliInputs, EveryKindOfInputEncodesOrFailsWithOneLine) {
  TempDir dir;
  const auto x264 = std::vector<std::string>{"-c:v", "libx264", "-preset", "veryfast"};
  const auto two_sounds = std::vector<std::string>{"-map", "0:v", "-map", "1:a", "-map", "2:a"};
  std::vector<Input> inputs = {
      {"h264-bframes.mp4", Picture("320x180", "25", 1) + Sound(44100, "stereo", 1) + x264 +
                               std::vector<std::string>{"-bf", "3", "-c:a", "aac"}, 1, true, 0, Damage::kNone, "", true},
      {"vp8.webm", Picture("160x120", "10", 1) + Sound(22050, "mono", 1) + std::vector<std::string>{"-c:v",
           "libvpx", "-c:a", "libvorbis"}, 1, true, 0, Damage::kNone, "", true},
      {"vp9-120fps.webm", Picture("192x108", "120", 1) + Sound(48000, "stereo", 1) +
                              std::vector<std::string>{"-c:v", "libvpx-vp9", "-deadline", "realtime", "-c:a",
                                                       "libopus"}, 1, true, 0, Damage::kNone, "", false},
      {"mpeg2-interlaced-anamorphic.ts", Picture("720x576", "25", 1) + Sound(48000, "stereo", 1) +
                                             std::vector<std::string>{"-vf", "setsar=16/15", "-c:v",
                                             "mpeg2video", "-flags", "+ildct+ilme", "-top", "1", "-c:a", "mp2"},
       1, true, 0, Damage::kNone, "", false},
      {"mpeg4-23.976.avi", Picture("320x240", "24000/1001", 1) + Sound(44100, "stereo", 1) +
                               std::vector<std::string>{"-c:v", "mpeg4", "-c:a", "libmp3lame"}, 1, true, 0, Damage::kNone, "", false},
      {"mjpeg-29.97-u8.avi", Picture("160x120", "30000/1001", 1) + Sound(11025, "mono", 1) +
                                 std::vector<std::string>{"-c:v", "mjpeg", "-c:a", "pcm_u8"}, 1, true, 0, Damage::kNone, "", false},
      {"ffv1-10bit-odd-7.1.mkv", Picture("175x97", "30", 1) + Sound(96000, "7.1", 1) +
                                     std::vector<std::string>{"-c:v", "ffv1", "-pix_fmt", "yuv420p10le", "-c:a",
                                                              "flac"}, 1, true, 0, Damage::kNone, "", true},
      {"prores-444.mov", Picture("256x144", "24", 1) + Sound(48000, "5.1", 1) +
                             std::vector<std::string>{"-c:v", "prores_ks", "-profile:v", "4444", "-c:a",
                                                      "pcm_s24le"}, 1, true, 0, Damage::kNone, "", false},
      {"raw-rgb24.avi", Picture("96x64", "15", 1) + Sound(8000, "stereo", 1) +
                            std::vector<std::string>{"-c:v", "rawvideo", "-pix_fmt", "rgb24", "-c:a",
                                                     "pcm_s16le"}, 1, true, 0, Damage::kNone, "", false},
      {"h264-444.flv", Picture("320x180", "30", 1) + Sound(44100, "stereo", 1) + x264 +
                           std::vector<std::string>{"-pix_fmt", "yuv444p", "-c:a", "aac"}, 1, true, 0, Damage::kNone, "", false},
      {"theora.ogg", Picture("160x96", "20", 1) + Sound(48000, "stereo", 1) +
                         std::vector<std::string>{"-c:v", "libtheora", "-c:a", "libvorbis"}, 1, true, 0, Damage::kNone, "", false},
      {"gray-16x16.y4m", Picture("16x16", "18", 1) + std::vector<std::string>{"-pix_fmt", "gray"}, 1, false, 0, Damage::kNone, "", false},
      {"pal8-%03d.png", Picture("100x60", "25", 1) + std::vector<std::string>{"-pix_fmt", "pal8"}, 1, false, 0, Damage::kNone, "", false},
      {"uhd-f32.mkv", Picture("3840x2160", "25", 0.2) + Sound(48000, "stereo", 0.2) + x264 +
                          std::vector<std::string>{"-preset", "ultrafast", "-c:a", "pcm_f32le"}, 0.2, true, 0, Damage::kNone, "", false},
      {"vfr.mkv", Picture("160x90", "30", 1) +
                      std::vector<std::string>{"-vf", "select='not(mod(n\\,3))+eq(n\\,10)'", "-fps_mode", "vfr",
                                               "-c:v", "ffv1"}, 1, false, 0, Damage::kNone, "", false},
      {"two-sounds-ac3-s32.mkv", Picture("160x90", "25", 1) + Sound(48000, "5.1", 1) + Sound(32000, "mono", 1) +
                                     two_sounds + std::vector<std::string>{"-c:v", "mpeg4", "-c:a:0", "ac3",
                                                                           "-c:a:1", "pcm_s32le"}, 1, true, 0, Damage::kNone, "", false},
      {"sound-late.mkv", Picture("160x90", "25", 2) + std::vector<std::string>{"-itsoffset", "1"} +
                             Sound(48000, "stereo", 1) + std::vector<std::string>{"-c:v", "mpeg4", "-c:a", "aac"},
       2, true, 1, Damage::kNone, "", false},
      {"video-shorter.mp4", Picture("160x90", "25", 1) + Sound(44100, "stereo", 2) +
                                std::vector<std::string>{"-c:v", "mpeg4", "-c:a", "aac"}, 1, true, 0, Damage::kNone, "", false},
      {"f64-nut.nut", Picture("160x90", "25", 1) + Sound(44100, "stereo", 1) +
                          std::vector<std::string>{"-c:v", "mpeg4", "-c:a", "pcm_f64le"}, 1, true, 0, Damage::kNone, "", false},
      // A broadcast switching from 5.1 to mono, as a programme follows an advert.
      {"sound-switches.ts", Picture("160x90", "25", 1) + Sound(48000, "5.1", 1) +
                                std::vector<std::string>{"-c:v", "mpeg2video", "-c:a", "ac3", "-muxdelay", "0"},
       2, true, 0, Damage::kNone, "", true,
       Picture("160x90", "25", 1) + Sound(48000, "mono", 1) +
           std::vector<std::string>{"-c:v", "mpeg2video", "-c:a", "ac3", "-muxdelay", "0", "-output_ts_offset", "1"}},
      // A picture needs a sound to give it a length.
      {"still.png", Picture("160x90", "25", 1) + std::vector<std::string>{"-frames:v", "1"}, 0, false, 0,
       Damage::kNone, "is a single picture", false},
      {"truncated.mp4", Picture("160x90", "25", 1) + Sound(44100, "stereo", 1) +
                            std::vector<std::string>{"-c:v", "mpeg4", "-c:a", "aac"},
       0, false, 0, Damage::kTruncated, "cannot read", false},
      // Through a pipe, read once: MP4 with its index at the end too.
      {"piped.mkv", Picture("160x90", "25", 1) + Sound(44100, "stereo", 1) +
                        std::vector<std::string>{"-c:v", "mpeg4", "-c:a", "mp2"}, 1, true, 0, Damage::kNone, "", true, {}, true},
      {"piped.ts", Picture("160x90", "25", 1) + Sound(48000, "stereo", 1) +
                       std::vector<std::string>{"-c:v", "mpeg2video", "-c:a", "mp2"}, 1, true, 0, Damage::kNone, "", false, {}, true},
      {"piped.nut", Picture("160x90", "25", 1) + Sound(48000, "mono", 1), 1, true, 0, Damage::kNone, "", false, {}, true},
      // No sound to read first: read as it comes, never copied (the copy would pass the limit).
      {"piped.y4m", Picture("160x90", "25", 1), 1, false, 0, Damage::kNone, "", true, {}, true, 450000},
      {"piped.mp4", Picture("160x90", "25", 1) + Sound(44100, "stereo", 1) +
                        std::vector<std::string>{"-c:v", "mpeg4", "-c:a", "aac"}, 1, true, 0, Damage::kNone, "", false, {}, true},
      {"truncated.mkv", Picture("160x90", "25", 2) + Sound(44100, "stereo", 2) +
                            std::vector<std::string>{"-c:v", "mpeg4", "-c:a", "libopus"}, -1, true, 0,
       Damage::kTruncated, "", true},
      {"corrupted.ts", Picture("160x90", "25", 2) + Sound(44100, "stereo", 2) + x264 +
                           std::vector<std::string>{"-c:a", "aac"}, -1, true, 0, Damage::kCorrupted, "", true},
      // Every picture is a packet of its own: the damaged ones are refused, and counted.
      {"corrupted-mjpeg.avi", Picture("160x90", "25", 2) + Sound(44100, "stereo", 2) +
                                  std::vector<std::string>{"-c:v", "mjpeg", "-c:a", "pcm_s16le"}, -1, true, 0,
       Damage::kCorrupted, "", false, {}, false, 0, "packets of its pictures could not be decoded and were skipped"},
  };
  if (HasEncoder("libx265")) {
    inputs.push_back(Input{"hevc-5.1.mkv", Picture("176x144", "30", 1) + Sound(48000, "5.1", 1) +
                                          std::vector<std::string>{"-c:v", "libx265", "-preset", "ultrafast",
                                                                   "-x265-params", "log-level=error", "-c:a",
                                                                   "libopus"}, 1, true, 0, Damage::kNone, "", false});
  }
  // Under a wrapper (valgrind), only the marked cases: the rest would take too long.
  const bool wrapped = std::getenv("TRACKLOOM_TEST_WRAPPER") != nullptr;
  int index = 0;
  const std::map<std::string, std::string> not_on_windows = {
      {"piped.y4m",
       "the exe refuses an input read as it comes (without a copy) on Windows, saying so"}};
  for (const Input& in : inputs) {
    if (wrapped && !in.memcheck) continue;
    SCOPED_TRACE(in.file);
    if (SkipRowOnWindows(not_on_windows, in.file)) continue;
    const std::string path = dir.File(in.file);
    Ffmpeg(in.make + std::vector<std::string>{"-shortest", path});
    if (!in.then.empty()) {
      Ffmpeg(in.then + std::vector<std::string>{"-shortest", path + ".then.ts"});
      std::vector<uint8_t> bytes = ReadFileBytes(path);
      const std::vector<uint8_t> then = ReadFileBytes(path + ".then.ts");
      bytes.insert(bytes.end(), then.begin(), then.end());
      WriteFileBytes(path, bytes);
    }
    if (in.damage != Damage::kNone) {
      std::vector<uint8_t> bytes = ReadFileBytes(path);
      if (in.damage == Damage::kTruncated) bytes.resize(bytes.size() * 6 / 10);
      // Every 97th byte of the middle third flipped: broken packets and headers.
      for (size_t i = bytes.size() / 3; in.damage == Damage::kCorrupted && i < bytes.size() * 2 / 3; i += 97) {
        bytes[i] ^= 0x5a;
      }
      WriteFileBytes(path, bytes);
    }
    const std::string out = dir.File("out" + std::to_string(index++));
    RunOptions run;
    run.stdin_path = in.piped ? path : run.stdin_path;
    run.stdin_piped = in.piped;
    run.file_size_limit = in.size_limit;
    const CommandResult r =
        RunTrackloom({"encode", in.piped ? "-" : path, "-o", out, in.note.empty() ? "--quiet" : "--json"}, run);
    ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status << " " << r.err;
    if (r.status == 1 || in.seconds == 0) {
      EXPECT_EQ(in.seconds == 0 || in.seconds < 0, true) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_NE(r.err.find(in.error), std::string::npos) << r.err;
      EXPECT_EQ(r.status, 1);
      continue;
    }
    EXPECT_EQ(r.err.empty(), in.note.empty()) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), in.note.empty() ? 0 : 1) << r.err;
    EXPECT_NE(r.err.find(in.note), std::string::npos) << r.err;
    std::string error;
    auto track = cli::FileSource::Open(out + "/" + TrackFileName(1), &error);
    ASSERT_TRUE(track) << error;
    const cli::TrackReport report = cli::InspectTrack(*track, {});
    EXPECT_TRUE(report.valid()) << report.problem_count << " problems";
    EXPECT_FALSE(FileExists(out + "/" + TrackFileName(2)));
    EXPECT_EQ(ListDirectory(out).size(), 1u) << "no temporary sound file left";
    if (in.seconds < 0) continue;
    EXPECT_NEAR(static_cast<double>(report.record_count), in.seconds * 18, 2);
    EXPECT_EQ(report.records_with_sound > 0, in.sound);
    if (in.sound) {
      EXPECT_NEAR(static_cast<double>(report.first_sound_record), in.sound_from * 18, 1);
    }
  }
}

// Pictures the 18 fps cut drops and nothing references are not decoded; the tracks
// must be the same bytes as when every picture is decoded.
TEST(CliInputs, LeavingOutDroppedPicturesChangesNoByte) {
  TempDir dir;
  const auto x264 = std::vector<std::string>{"-c:v", "libx264", "-preset", "veryfast", "-bf", "3"};
  std::vector<std::pair<std::string, std::vector<std::string>>> inputs = {
      {"h264-bframes.mp4", Picture("160x90", "30", 3) + x264 + std::vector<std::string>{"-b_strategy", "0"}},
      {"h264-pyramid-open-gop.mkv", Picture("160x90", "30", 3) + x264 +
                                        std::vector<std::string>{"-x264-params", "b-pyramid=normal:open-gop=1:keyint=20"}},
      {"h264-60fps.mp4", Picture("160x90", "60", 2) + x264},
      {"h264-24fps-annexb.ts", Picture("160x90", "24", 3) + x264},
      {"mpeg2-bframes.ts", Picture("160x90", "25", 3) + std::vector<std::string>{"-c:v", "mpeg2video", "-bf", "2"}},
      {"mpeg1-bframes.mpg", Picture("160x90", "30", 3) + std::vector<std::string>{"-c:v", "mpeg1video", "-bf", "2"}},
      {"mjpeg-standard-tables.avi", Picture("160x90", "30", 2) + std::vector<std::string>{"-c:v", "mjpeg", "-huffman", "default"}},
      {"mjpeg-own-tables.mov", Picture("160x90", "25", 2) + std::vector<std::string>{"-c:v", "mjpeg", "-huffman", "optimal"}},
      {"prores.mov", Picture("160x90", "30", 2) + std::vector<std::string>{"-c:v", "prores_ks", "-profile:v", "0"}},
      {"vp9.webm", Picture("160x90", "30", 2) + std::vector<std::string>{"-c:v", "libvpx-vp9", "-deadline", "realtime"}},
  };
  if (HasEncoder("libx265")) {
    const auto x265 = [](const std::string& params) {
      return std::vector<std::string>{"-c:v", "libx265", "-preset", "ultrafast", "-x265-params", "log-level=error:" + params};
    };
    inputs.push_back({"hevc-bframes.mp4", Picture("160x90", "30", 2) + x265("bframes=3")});
    inputs.push_back({"hevc-annexb.ts", Picture("160x90", "30", 2) + x265("bframes=3")});
    inputs.push_back({"hevc-sub-layers.mkv", Picture("160x90", "30", 2) + x265("bframes=3:temporal-layers=1")});
  }
  for (const auto& [file, make] : inputs) {
    SCOPED_TRACE(file);
    const std::string path = dir.File(file);
    Ffmpeg(make + std::vector<std::string>{path});
    std::vector<uint8_t> tracks[2];
    for (int all = 0; all < 2; ++all) {
      const std::string out = dir.File(file + (all ? ".all" : ".cut"));
      if (all) setenv("TRACKLOOM_DECODE_ALL", "1", 1);
      const CommandResult r = RunTrackloom({"encode", path, "-o", out, "--quiet"});
      unsetenv("TRACKLOOM_DECODE_ALL");
      ASSERT_EQ(r.status, 0) << r.err;
      tracks[all] = ReadFileBytes(out + "/" + TrackFileName(1));
    }
    EXPECT_GT(tracks[0].size(), 0u);
    EXPECT_TRUE(tracks[0] == tracks[1]);
  }
}

// Sets a track header's display matrix in an MP4 (a, b, c, d of its 2 x 2 part): a
// phone's rotation or a front camera's mirror, which ffmpeg cannot write itself.
void SetTkhdMatrix(const std::string& path, const std::vector<int32_t>& abcd) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  const size_t tkhd = std::string(bytes.begin(), bytes.end()).find("tkhd");
  ASSERT_NE(tkhd, std::string::npos);
  const size_t matrix = tkhd + 4 + (bytes[tkhd + 4] == 1 ? 52 : 40);
  const size_t at[4] = {0, 4, 12, 16};
  for (int k = 0; k < 4; ++k) {
    for (int i = 0; i < 4; ++i) bytes[matrix + at[k] + i] = static_cast<uint8_t>(static_cast<uint32_t>(abcd[k] * 65536) >> (24 - 8 * i));
  }
  WriteFileBytes(path, bytes);
}

// Gives a JPEG an EXIF orientation, as a camera writes it.
void SetExifOrientation(const std::string& path, int orientation) {
  std::vector<uint8_t> bytes = ReadFileBytes(path);
  const std::vector<uint8_t> app1 = {0xff, 0xe1, 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                                     0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, static_cast<uint8_t>(orientation), 0, 0, 0, 0, 0, 0};
  bytes.insert(bytes.begin() + 2, app1.begin(), app1.end());
  WriteFileBytes(path, bytes);
}

std::vector<std::string> Make(std::vector<std::string> args, const std::string& path) {
  args.push_back(path);
  return args;
}

// The same scene stored another way (mirrored by its matrix or EXIF, in HDR, behind
// a cover) gives the tracks of the plain one: equal, or within a level of the panel.
TEST(CliInputs, SameSceneStoredAnotherWayGivesTheSameTracks) {
  TempDir dir;
  const std::string film = dir.File("film.mp4");
  Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180:rate=25:duration=1", "-c:v", "libx264", "-qp", "0", film});
  const std::string bars = dir.File("bars.mkv");
  Ffmpeg({"-f", "lavfi", "-i", "smptehdbars=size=320x180:rate=25:duration=1", "-vf",
          // FFmpeg 7 tags the stream by the pictures' own properties, not by these options.
          "format=yuv420p,setparams=colorspace=bt709:color_primaries=bt709:color_trc=bt709", "-colorspace", "bt709",
          "-color_primaries", "bt709", "-color_trc", "bt709", "-c:v", "ffv1", bars});
  const std::string photo = dir.File("photo.jpg");
  Ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=320x180", "-frames:v", "1", "-q:v", "1", photo});
  Ffmpeg({"-f", "lavfi", "-i", "sine=duration=1", dir.File("sound.wav")});
  Ffmpeg({"-f", "lavfi", "-i", "color=red:size=600x600", "-frames:v", "1", dir.File("cover.png")});
  const auto hdr = [&](const std::string& transfer) {
    return std::vector<std::string>{"-i", bars, "-vf",
                                    "zscale=t=linear:npl=203,format=gbrpf32le,zscale=p=2020:t=" + transfer +
                                        ":m=2020_ncl:npl=203,format=yuv420p10le",
                                    "-colorspace", "bt2020nc", "-color_primaries", "bt2020", "-color_trc",
                                    transfer, "-c:v", "ffv1"};
  };
  const auto remade = [](const std::string& from, const std::string& filter) {
    return std::vector<std::string>{"-i", from, "-vf", filter, "-c:v", "libx264", "-qp", "0"};
  };
  enum class Patch { kNone, kMatrix, kExif };
  struct Case {
    std::string name;
    std::vector<std::string> plain;  // ffmpeg arguments for the plain file, or empty: the source itself
    std::string source;              // the file the other way starts from
    std::vector<std::string> other;  // ffmpeg arguments for the other way, or empty: a copy
    Patch patch;
    std::vector<int32_t> values;  // the matrix, or the EXIF orientation
    std::vector<std::string> options;  // for both
    std::vector<std::string> choice;   // for the other way only
    int max_level_difference;
    std::string summary;
  };
  const std::vector<std::string> still = {"--audio", dir.File("sound.wav")};
  const std::vector<Case> cases = {
      {"mirrored.mp4", remade(film, "hflip"), film, {}, Patch::kMatrix, {-1, 0, 0, 1}, {"--no-audio"}, {}, 1, "(mirrored)"},
      {"transposed.mp4", remade(film, "transpose=cclock_flip"), film, {}, Patch::kMatrix, {0, 1, 1, 0},
       {"--no-audio", "--fit", "crop"}, {}, 1, "(turned clockwise and mirrored)"},
      {"upside-down-mirrored.mp4", remade(film, "vflip"), film, {}, Patch::kMatrix, {1, 0, 0, -1},
       {"--no-audio", "--fit", "stretch"}, {}, 1, "(turned upside down and mirrored)"},
      {"exif-2.jpg", {"-i", photo, "-vf", "hflip"}, photo, {}, Patch::kExif, {2}, still, {}, 1, "(mirrored)"},
      {"exif-7.jpg", {"-i", photo, "-vf", "transpose=clock_flip"}, photo, {}, Patch::kExif, {7}, still, {}, 1,
       "(turned anticlockwise and mirrored)"},
      {"hlg.mkv", {}, bars, hdr("arib-std-b67"), Patch::kNone, {}, {"--no-audio"}, {}, 1, "HDR (HLG) converted to SDR"},
      {"pq.mkv", {}, bars, hdr("smpte2084"), Patch::kNone, {}, {"--no-audio"}, {}, 1, "HDR (PQ) converted to SDR"},
      {"cover-first.mkv", {}, film, {"-i", dir.File("cover.png"), "-i", film, "-map", "0", "-map", "1", "-c:v:0", "png",
       "-c:v:1", "copy"}, Patch::kNone, {}, {"--no-audio"}, {}, 0, "Video: stream 1 (h264, 320 x 180) of 2; not read: stream 0"},
      {"cover-first-chosen.mkv", {}, film, {"-i", dir.File("cover.png"), "-i", film, "-map", "0", "-map", "1",
       "-c:v:0", "png", "-c:v:1", "copy"}, Patch::kNone, {}, {"--no-audio"}, {"--video-stream", "1"}, 0, "Video: stream 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string extension = c.name.substr(c.name.rfind('.'));
    std::string plain = c.source;
    if (!c.plain.empty()) Ffmpeg(Make(c.plain, plain = dir.File("plain-" + c.name + (extension == ".jpg" ? ".png" : extension))));
    const std::string other = dir.File(c.name);
    if (c.other.empty()) {
      WriteFileBytes(other, ReadFileBytes(c.source));
    } else {
      Ffmpeg(Make(c.other, other));
    }
    if (c.patch == Patch::kMatrix) SetTkhdMatrix(other, c.values);
    if (c.patch == Patch::kExif) SetExifOrientation(other, c.values[0]);
    const std::vector<std::string> both[2] = {{"encode", plain, "-o", dir.File("plain-" + c.name + ".out")},
                                              {"encode", other, "-o", dir.File(c.name + ".out")}};
    Track tracks[2];
    for (int k = 0; k < 2; ++k) {
      const CommandResult r = RunTrackloom(both[k] + c.options + (k == 1 ? c.choice : std::vector<std::string>{}));
      ASSERT_EQ(r.status, 0) << r.err;
      if (k == 1) {
        EXPECT_NE(r.out.find(c.summary), std::string::npos) << r.out;
      }
      tracks[k] = ReadTrack(both[k][3] + "/" + TrackFileName(1));
    }
    ASSERT_EQ(tracks[0].records(), tracks[1].records());
    // Dithering turns a difference of a few values into a level here and there, and
    // edges (between bars, where the scaler meets a turned picture) differ a little
    // more; a wrong turn or mirror, or HDR left as it is, is off by a level or more
    // on average.
    double total = 0;
    size_t count = 0, beyond = 0;
    for (size_t i = 0; i < tracks[0].records(); ++i) {
      const std::vector<uint8_t> a = tracks[0].PictureNibbles(i), b = tracks[1].PictureNibbles(i);
      for (size_t j = 0; j < a.size(); ++j, ++count) {
        total += std::abs(a[j] - b[j]);
        beyond += std::abs(a[j] - b[j]) > c.max_level_difference;
      }
    }
    EXPECT_LE(total / static_cast<double>(count), c.max_level_difference * 0.4);
    EXPECT_LE(static_cast<double>(beyond) / static_cast<double>(count), 0.06);
  }
}

}  // namespace
}  // namespace trackloom::testing

// trackloom.exe (TRACKLOOM_TEST_BINARY, run under wine) beside the Linux command built
// with these tests: the same input gives the same tracks, and what one writes the
// other reads. Built only when a Windows build of the command is at hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

// The Linux command, whatever TRACKLOOM_TEST_BINARY says.
CommandResult RunLinux(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {TRACKLOOM_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunCommand(argv);
}

std::vector<std::string> Tracks(const std::string& dir) {
  std::vector<std::string> tracks;
  for (int n = 1; FileExists(dir + "/" + TrackFileName(n)); ++n)
    tracks.push_back(dir + "/" + TrackFileName(n));
  return tracks;
}

// The largest difference between two tracks' pictures, in panel levels (0 to 15).
int LargestPictureDifference(const Track& a, const Track& b) {
  int largest = 0;
  for (size_t k = 0; k < std::min(a.records(), b.records()); ++k) {
    const std::vector<uint8_t> pa = a.PictureNibbles(k);
    const std::vector<uint8_t> pb = b.PictureNibbles(k);
    for (size_t i = 0; i < pa.size(); ++i) largest = std::max(largest, std::abs(pa[i] - pb[i]));
  }
  return largest;
}

enum class Expect {
  kSameBytes,        // every track byte for byte as the Linux command writes it
  kWithinOneLevel,   // the same records, each picture within one level of Linux's
  kDiscReadByLinux,  // the disc image trackloom.exe makes of its tracks, read by Linux inspect
};

TEST(CliWindows, TheExeWritesWhatTheLinuxCommandWritesAndReads) {
  if (!TrackloomIsWindows()) GTEST_SKIP() << "TRACKLOOM_TEST_BINARY does not name trackloom.exe";
  TempDir dir;
  const std::string sine = "sine=frequency=330:duration=3";
  struct Row {
    const char* name;
    std::string input;              // a file name in the test's directory
    std::string output;             // the output directory's name there
    std::vector<std::string> make;  // ffmpeg's arguments before the input's path
    Expect expect;
  };
  const Row rows[] = {
      {"lossless 144 x 80 at 18 fps",
       "lossless.mkv",
       "lossless",
       {"-f", "lavfi", "-i", "testsrc=size=144x80:rate=18:duration=3", "-f", "lavfi", "-i", sine,
        "-c:v", "ffv1", "-pix_fmt", "bgr0", "-c:a", "pcm_s16le"},
       Expect::kSameBytes},
      {"H.264 and AAC",
       "phone.mp4",
       "phone",
       {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30:duration=3", "-f", "lavfi", "-i", sine,
        "-c:v", "libx264", "-pix_fmt", "yuv420p", "-c:a", "aac"},
       Expect::kWithinOneLevel},
      {"a disc image",
       "disc.mkv",
       "disc",
       {"-f", "lavfi", "-i", "testsrc=size=160x90:rate=18:duration=2", "-f", "lavfi", "-i", sine,
        "-c:v", "ffv1", "-c:a", "pcm_s16le"},
       Expect::kDiscReadByLinux},
      {"names in other scripts and emoji",
       "Клип 東京 🎬.mkv",
       "Выход 🎞️ データ",
       {"-f", "lavfi", "-i", "testsrc=size=144x80:rate=18:duration=2", "-f", "lavfi", "-i", sine,
        "-c:v", "ffv1", "-pix_fmt", "bgr0", "-c:a", "pcm_s16le"},
       Expect::kSameBytes},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> make = row.make;
    make.push_back(dir.File(row.input));
    Ffmpeg(make);
    const std::string exe_out = dir.File(row.output);
    const std::string linux_out = dir.File(row.output + " linux");
    const CommandResult exe =
        RunTrackloom({"encode", dir.File(row.input), "-o", exe_out, "--quiet"});
    ASSERT_EQ(exe.status, 0) << exe.err;
    const CommandResult native =
        RunLinux({"encode", dir.File(row.input), "-o", linux_out, "--quiet"});
    ASSERT_EQ(native.status, 0) << native.err;
    const std::vector<std::string> tracks = Tracks(exe_out);
    ASSERT_EQ(tracks.size(), Tracks(linux_out).size());
    ASSERT_FALSE(tracks.empty());
    for (size_t i = 0; i < tracks.size(); ++i) {
      const CommandResult inspected = RunLinux({"inspect", "--quiet", tracks[i]});
      EXPECT_EQ(inspected.status, 0) << inspected.out << inspected.err;
      const Track from_exe = ReadTrack(tracks[i]);
      const Track from_linux = ReadTrack(Tracks(linux_out)[i]);
      if (row.expect == Expect::kSameBytes) {
        EXPECT_TRUE(from_exe.bytes == from_linux.bytes)
            << tracks[i] << " differs from the Linux command's";
      } else {
        EXPECT_EQ(from_exe.records(), from_linux.records());
        EXPECT_LE(LargestPictureDifference(from_exe, from_linux), 1);
      }
    }
    if (row.expect != Expect::kDiscReadByLinux) continue;
    // A retail disc's first track stands in as CD audio holding the first track's records.
    const Track first = ReadTrack(tracks[0]);
    WriteFileBytes(dir.File("first.wav"),
                   MakeWav(44100, 16, 2, {first.bytes.begin() + 2092, first.bytes.end()}));
    std::vector<std::string> disc = {
        "disc",     "-o",     dir.File("image/film"), "--first", dir.File("first.wav"),
        "--no-pad", "--quiet"};
    disc.insert(disc.end(), tracks.begin(), tracks.end());
    const CommandResult made = RunTrackloom(disc);
    ASSERT_EQ(made.status, 0) << made.err;
    // Every track's records, found by Linux inspect in the image through its sheet.
    const CommandResult read = RunLinux({"inspect", "--json", dir.File("image/film.cue")});
    EXPECT_EQ(read.status, 0) << read.out << read.err;
    size_t from = 0;
    std::vector<std::string> on_disc = {tracks[0]};
    on_disc.insert(on_disc.end(), tracks.begin(), tracks.end());
    for (const std::string& track : on_disc) {
      from = read.out.find("\"records\": ", from);
      ASSERT_NE(from, std::string::npos) << read.out;
      from += 11;
      EXPECT_EQ(std::stoull(read.out.substr(from)), ReadTrack(track).records()) << read.out;
    }
  }
}

}  // namespace
}  // namespace trackloom::testing

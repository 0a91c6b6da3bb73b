// Golden outputs: the exact bytes of a few reference encodes, pinned by size and
// SHA-256, so that any change anywhere between a picture and a track file that
// alters a single byte is seen.
//
// How the values were derived and checked: each scenario was run once and every
// track it wrote was (1) read back by the independent track reader, which found it
// valid and every record's picture equal to the quantised source picture and every
// record's sound equal to its stretch of the sound (the round-trip tests check the
// same scenarios' records one by one), and (2) hashed with sha256sum, which gave
// the values below. The test checks (1) again before it compares the hashes, so a
// failure here is a change of bytes in a track the reader still accepts. If such a
// change is intended, the failure message prints the new values.
//
// The command's scenario depends on FFmpeg's scaling and resampling. Its values were
// derived on Debian 12 (FFmpeg 5.1); the whole-pixel ones were also checked on Debian 13
// (FFmpeg 7.1) by running the same command, built there, on the same clip, and both
// modes are checked there by the test run in a bare Debian 13 root (scripts/test-all). Should
// a later FFmpeg round differently, its values go beside these, by major version.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/mem.h>
#include <libavutil/sha.h>
}

#include "cli/tracks/track_reader.h"
#include "host/filter_module.h"
#include "runner/editor.h"
#include "runner/script_line.h"
#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"
#include "tests/track_test_support.h"

namespace trackloom::testing {
namespace {

struct GoldenTrack {
  const char* name;
  uint64_t size;
  const char* sha256;
};

std::string Sha256(const std::vector<uint8_t>& bytes) {
  AVSHA* sha = av_sha_alloc();
  av_sha_init(sha, 256);
  // Fed in slices: the length argument is an unsigned int on older FFmpeg.
  for (size_t at = 0; at < bytes.size(); at += 1 << 20) {
    const size_t n = std::min<size_t>(bytes.size() - at, 1 << 20);
    av_sha_update(sha, bytes.data() + at, static_cast<unsigned>(n));
  }
  uint8_t digest[32];
  av_sha_final(sha, digest);
  av_free(sha);
  std::string hex;
  char two[3];
  for (const uint8_t b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

// Every track in dir is valid to the reader, and the set of tracks is exactly the
// golden one, byte for byte.
void ExpectGolden(const std::string& dir, const std::vector<GoldenTrack>& golden) {
  std::vector<std::string> names;
  std::string actual;
  for (const std::string& name : ListDirectory(dir)) {
    if (name.rfind("VDN Track ", 0) != 0) continue;
    names.push_back(name);
    const std::vector<uint8_t> bytes = ReadFileBytes(dir + "/" + name);
    cli::MemorySource source(bytes.data(), bytes.size());
    const cli::TrackReport report = cli::InspectTrack(source, cli::InspectOptions{});
    EXPECT_TRUE(report.valid()) << name << " is not a valid track";
    char line[160];
    std::snprintf(line, sizeof line, "      {\"%s\", %zu, \"%s\"},\n", name.c_str(), bytes.size(),
                  Sha256(bytes).c_str());
    actual += line;
  }
  std::string expected;
  for (const GoldenTrack& g : golden) {
    char line[160];
    std::snprintf(line, sizeof line, "      {\"%s\", %" PRIu64 ", \"%s\"},\n", g.name, g.size,
                  g.sha256);
    expected += line;
  }
  EXPECT_EQ(actual, expected) << "the tracks now written are:\n" << actual;
}

// The filter module rendering PaintedFrameSource pictures through the replacement
// editor, as the real editor would.
void RenderWithModule(const std::string& audio, const std::string& out, const std::string& breaks,
                      int64_t frames) {
  runner::Editor editor(runner::RaiseErrorMode::kRecordAndThrow);
  runner::LoadedModule module(
      editor, runner::ModuleExports{&VirtualdubFilterModuleInit2, &VirtualdubFilterModuleDeinit});
  runner::FilterInstance filter(module);
  filter.RunScriptLine("Config(1," + runner::QuoteScriptString(audio) + "," +
                       runner::QuoteScriptString(out) + "," + runner::QuoteScriptString(breaks) +
                       ")");
  runner::PaintedFrameSource source(
      runner::FrameFormat{}, frames, [](int64_t index, uint32_t* pixels) {
        const std::vector<uint32_t> picture = track_test::Picture(index);
        std::memcpy(pixels, picture.data(), picture.size() * sizeof(uint32_t));
      });
  const runner::RenderReport report = filter.Render(source);
  ASSERT_TRUE(report.ok) << (report.errors.empty() ? "" : report.errors.front());
}

TEST(GoldenOutput, FilterModuleTracksWithSoundAndBreaks) {
  struct Case {
    const char* name;
    int64_t frames;
    const char* breaks;
    long sound_bytes;  // -1: no sound file
    std::vector<GoldenTrack> tracks;
  };
  const Case cases[] = {
      {"45 frames, sound ending inside track 2, breaks 20 and 35",
       45,
       "20;35",
       25 * 1960 + 980,
       {{"VDN Track 01.wav", 394092,
         "cd4f313817b2fa28685096e9a969d7ad5691257d33e896137dc563c457f5afac"},
        {"VDN Track 02.wav", 296092,
         "4bdab1b3cfd3f62c2983a4a6d468a55303ed0945805e26bace79f60c702909ab"},
        {"VDN Track 03.wav", 198092,
         "93c7c04cc0b2a010d7a0ea65fbff55ec840426ab3f6148dc68d42f087d7025c8"}}},
      {"10 frames without sound",
       10,
       "",
       -1,
       {{"VDN Track 01.wav", 198092,
         "f3351e5d8e4cc7d9dd05a7f7c389c6ddf38bcd2233718cbaf6669d1ef65628fe"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string audio;
    if (c.sound_bytes >= 0) {
      audio = dir.File("sound-in.wav");
      WriteFileBytes(
          audio, MakeWav(17640, 8, 2, track_test::SoundRamp(static_cast<size_t>(c.sound_bytes))));
    }
    const std::string out = dir.File("tracks");
    std::filesystem::create_directories(out);
    RenderWithModule(audio, out, c.breaks, c.frames);
    ExpectGolden(out, c.tracks);
  }
}

TEST(GoldenOutput, CommandEncodeOfAGeneratedClip) {
  TempDir dir;
  // 2 s of FFmpeg's test pattern at 25 fps and 160 x 90 with a 440 Hz tone, stored
  // losslessly so that only the command's own conversions shape the tracks (a 16:9
  // picture letterboxed into the 4:3 screen and dithered to 16 levels; the tone
  // brought to -16 LUFS and dithered to 8 bits, with the resampler's fixed seed).
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x90:rate=25:duration=2", "-f", "lavfi", "-i",
          "sine=frequency=440:sample_rate=44100:duration=2", "-c:v", "ffv1", "-c:a", "pcm_s16le",
          dir.File("clip.mkv")});
  // Subpixel sampling is the default; the whole-pixel values are those pinned before it was.
  const struct {
    const char* sampling;
    std::vector<GoldenTrack> tracks;
  } cases[] = {
      {"subpixel",
       {{"VDN Track 01.wav", 276492,
         "2237dd899f18e9d2597a669535dcbd5e609eebf212997221936c16d34e8de1bf"},
        {"VDN Track 02.wav", 433292,
         "141e59d5b881bebf2be669829b9a1ecdb9bd10cb6e570288a307e9c81e7834b8"}}},
      {"pixel",
       {{"VDN Track 01.wav", 276492,
         "be9f8e26fedbae93fb2a96adae5a0ab49fb17dae535e588df5377aac5312192b"},
        {"VDN Track 02.wav", 433292,
         "7a3517c0fa9071528970cc0f6ed0eb4a18c0dcb27d6a1f87e6cfb47b9038f25c"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sampling);
    const std::string out = dir.File(std::string("out-") + c.sampling);
    const CommandResult r = RunTrackloom({"encode", dir.File("clip.mkv"), "-o", out, "--break",
                                          "20", "--sampling", c.sampling, "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectGolden(out, c.tracks);
  }
}

}  // namespace
}  // namespace trackloom::testing

// What every subcommand answers to a wrong command line, and the encode summary's
// account of the breaks it was given.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

std::string Joined(const std::vector<std::string>& args) {
  std::string joined;
  for (const std::string& a : args) joined += a + " ";
  return joined;
}

TEST(CliOptions, WrongCommandLinesAndInputsGiveOneLineAndTheirStatus) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x90:rate=18:duration=1", "-c:v", "ffv1", dir.File("clip.mkv")});
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x64", "-frames:v", "1", dir.File("still.png")});
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x64:duration=1", "-c:v", "mpeg4", dir.File("index-last.mp4")});
  const std::string clip = dir.File("clip.mkv");
  const std::string out = dir.File("out");
  const std::string text = dir.File("notes.txt");
  const std::string subtitles = dir.File("film.srt");
  WriteFileBytes(text, std::vector<uint8_t>(2000, 'x'));
  const std::string cue = "1\n00:00:01,000 --> 00:00:02,000\nHello\n";
  WriteFileBytes(subtitles, std::vector<uint8_t>(cue.begin(), cue.end()));
  // Too long for the filter's 259-byte paths once a later input's tracks are staged in it.
  const std::string long_dir = dir.File(std::string(100, 'd')) + "/" + std::string(230 - dir.File("").size() - 100, 'e');
  const std::string ran = dir.File("ran");  // where runs that get past the options may write
  std::filesystem::create_directory(dir.File("kept-tracks"));
  WriteFileBytes(dir.File("kept-tracks/VDN Track 01.wav"), {1});
  struct Case {
    std::vector<std::string> args;
    std::string first_words;  // how stderr begins
    int status = 2;
    std::string piped = "";  // a file whose bytes come through a pipe on standard input
  };
  const Case cases[] = {
      {{"encode", clip, "-o", out, "--break", "-5"}, "trackloom encode: --break takes frame numbers from 1 to 2147483647 like 100,250, not '-5'"},
      {{"encode", clip, "-o", out, "--break", "10,2147483648"}, "trackloom encode: --break takes frame numbers from 1 to 2147483647 like 100,250, not '2147483648'"},
      {{"encode", clip, "-o", out, "--break", "0"}, "trackloom encode: --break takes frame numbers"},
      {{"encode", clip, "-o", out, "--break-at", "1e0"}, "trackloom encode: --break-at takes times"},
      {{"encode", clip, "-o", out, "--break-at", "9999999:00:00"}, "trackloom encode: --break-at 9999999:00:00 is frame"},
      {{"encode", clip, "-o", out, "--disc-minutes", "1e3"}, "trackloom encode: --disc-minutes takes"},
      {{"encode", clip}, "trackloom encode: no output directory: give one with -o DIR"},
      {{"encode", clip, "-o", out, "-x"}, "trackloom encode: unknown option '-x'"},
      {{"demo", "-v"}, "trackloom demo: unknown option '-v'"},
      {{"decode", "--frames=1e1", "t.wav", "-o", out}, "trackloom decode: --frames takes"},
      {{"decode", "--bogus"}, "trackloom decode: unknown option '--bogus'"},
      {{"inspect", "-q"}, "trackloom inspect: no track file given (see 'trackloom inspect --help')\n"},
      {{"disc", "-o", "x", "--first", "f.wav", "--capacity", "1e2", "t.wav"}, "trackloom disc: --capacity takes"},
      {{"disc", "-o", "x", "--first", "f.wav", "--capacity", "0", "t.wav"}, "trackloom disc: --capacity takes the blank's whole"},
      {{"disc", "--test-pattern", "-o", "x", "--first", "f.wav", "t.wav"}, "trackloom disc: --test-pattern makes its own"},
      {{"disc", "--test-pattern", "-o", dir.File("kept"), "--first", "f.wav"},
       TrackloomIsWindows() ? "trackloom: --test-pattern is not in the Windows command yet"
                            : "trackloom: '" + dir.File("kept-tracks") + "' is not empty, and the test disc writes its tracks there",
       1},
      {{"encode", clip, "-o", out, "--split"}, "trackloom encode: --first, --last, --pad-to, --no-pad and --split go with --disc"},
      {{"play", "--scale", "1e0", "t.wav"}, "trackloom play: --scale takes"},
      {{"configure", "--settings"}, "trackloom configure: --settings needs a file"},
      {{"help", "bogus"}, "trackloom: unknown command 'bogus'"},
      {{"help", "bo\x1b[2Jgus"}, "trackloom: unknown command 'bo\\x1b[2Jgus'"},
      {{"play", dir.File("e\x1b[2J.wav")}, "trackloom: cannot open " + dir.File("e\\x1b[2J.wav") + ": ", 2},
      // a pattern that matched nothing, as the shell (or Windows' C runtime) leaves it
      {{"inspect", dir.File("*.wav")}, "trackloom: " + dir.File("*.wav") + ": cannot open: No such file or directory\n"},
      {{"encode", "-", "--audio", "-", "-o", out}, "trackloom encode: standard input ('-') can be read only once"},
      {{"encode", text, "-o", ran}, "trackloom: '" + text + "' is text, not video", 1},
      {{"encode", subtitles, "-o", ran}, "trackloom: '" + subtitles + "' holds only subtitles, not video", 1},
      {{"encode", clip, "--audio", dir.File("still.png"), "-o", ran}, "trackloom: '" + dir.File("still.png") + "' has no sound: it holds a still picture", 1},
      {{"encode", clip, "--audio", clip, "-o", ran}, "trackloom: '" + clip + "' has no sound: it holds only video", 1},
      {{"encode", clip, "--audio", text, "-o", ran}, "trackloom: '" + text + "' has no sound: it is text", 1},
      {{"encode", clip, clip, "-o", long_dir}, "trackloom: the output directory '" + long_dir + "' is too long", 1},
      {{"encode", "/dev/zero", "-o", ran}, "trackloom: '/dev/zero' is a device, which can be read only once", 1},
      {{"encode", "-", "--no-audio", "-o", ran}, "trackloom: '-' is an MP4 or MOV file with its index after", 1,
       dir.File("index-last.mp4")},
  };
  const std::map<std::string, std::string> not_on_windows = {
      {"encode /dev/zero", "Windows has no /dev"}};
  for (const Case& c : cases) {
    if (c.args.size() > 1 && SkipRowOnWindows(not_on_windows, c.args[0] + " " + c.args[1]))
      continue;
    RunOptions run;
    run.stdin_path = c.piped.empty() ? run.stdin_path : c.piped;
    run.stdin_piped = !c.piped.empty();
    const CommandResult r = RunTrackloom(c.args, run);
    SCOPED_TRACE(Joined(c.args) + "\n" + r.err);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err.rfind(c.first_words, 0), 0u);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(FileExists(out));
  EXPECT_FALSE(FileExists(long_dir));
  // Every subcommand's help, however reached, states its exit statuses in the same
  // words, 130 where Ctrl-C is handled.
  for (const std::string command : {"encode", "demo", "configure", "inspect", "decode", "disc", "play", "repair"}) {
    const bool interruptible = command == "encode" || command == "demo" || command == "decode" || command == "disc";
    for (CommandResult r : {RunTrackloom({command, "--help"}), RunTrackloom({"help", command})}) {
      SCOPED_TRACE(command);
      std::replace(r.out.begin(), r.out.end(), '\n', ' ');
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out.rfind("Usage: trackloom " + command, 0), 0u);
      EXPECT_NE(r.out.find("Exit status: 0 done"), std::string::npos);
      EXPECT_NE(r.out.find(", 1 failed ("), std::string::npos);
      EXPECT_NE(r.out.find(", 2 bad options"), std::string::npos);
      EXPECT_EQ(r.out.find(", 130 interrupted (Ctrl-C") != std::string::npos, interruptible);
    }
  }
}

// Breaks are put in order once each, with a note; those past the last frame are
// named in the summary. A name that is not UTF-8 keeps the JSON valid.
TEST(CliOptions, BreakListIsNormalisedAndUnusedBreaksAreNamed) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x90:rate=18:duration=3", "-c:v", "ffv1", dir.File("clip.mkv")});
  // A name that is not UTF-8 cannot reach a Windows program (wine joins it to the next
  // argument): there the name is UTF-8, and the row about it is left out.
  const std::string odd = dir.File(TrackloomIsWindows() ? "caf\xc3\xa9" : "caf\xe9");
  struct Case {
    std::vector<std::string> extra;
    std::string out_has, err_has;
  };
  const Case cases[] = {
      {{}, "Not used: breaks at frames 500,900, past the last frame of", "note: breaking at frames 18,36,500,900 (in order, each once)"},
      {{"--json"}, "\"output_directory\": \"" + dir.File("caf") + "\\ufffd\", \"output_directory_hex\": \"", ""},
      {{"--json"}, "\"breaks_past_the_end\": [500, 900]", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"encode", dir.File("clip.mkv"), "-o", odd, "--no-audio", "--overwrite",
                                     "--break", "900,36,18,36,500"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const CommandResult r = RunTrackloom(args);
    if (SkipRowOnWindows({{"\\ufffd", "a name that is not UTF-8 cannot reach a Windows program"}},
                         c.out_has.find("\\ufffd") != std::string::npos ? "\\ufffd" : "")) {
      continue;
    }
    SCOPED_TRACE(Joined(args) + "\n" + r.out + r.err);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(c.out_has), std::string::npos);
    EXPECT_NE(r.err.find(c.err_has), std::string::npos);
    EXPECT_EQ(ListDirectory(odd).size(), 3u);
  }
}

}  // namespace
}  // namespace trackloom::testing

// What every subcommand answers to a wrong command line, and the encode summary's
// account of the breaks it was given.
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(CliOptions, WrongCommandLinesGiveStatus2AndOneLineNamingTheSubcommand) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x90:rate=18:duration=1", "-c:v", "ffv1", dir.File("clip.mkv")});
  const std::string clip = dir.File("clip.mkv");
  const std::string out = dir.File("out");
  struct Case {
    std::vector<std::string> args;
    std::string first_words;  // how stderr begins
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
      {{"play", "--scale", "1e0", "t.wav"}, "trackloom play: --scale takes"},
      {{"configure", "--settings"}, "trackloom configure: --settings needs a file"},
      {{"help", "bogus"}, "trackloom: unknown command 'bogus'"},
  };
  for (const Case& c : cases) {
    const CommandResult r = RunTrackloom(c.args);
    SCOPED_TRACE(Joined(c.args) + "\n" + r.err);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind(c.first_words, 0), 0u);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_FALSE(FileExists(out));
  // Every subcommand's help, however reached, states its exit statuses alike.
  for (const char* command : {"encode", "demo", "configure", "inspect", "decode", "disc", "play", "repair"}) {
    for (CommandResult r : {RunTrackloom({command, "--help"}), RunTrackloom({"help", command})}) {
      SCOPED_TRACE(command);
      std::replace(r.out.begin(), r.out.end(), '\n', ' ');
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out.rfind(std::string("Usage: trackloom ") + command, 0), 0u);
      EXPECT_NE(r.out.find("Exit status: 0 "), std::string::npos);
      EXPECT_NE(r.out.find(", 2 bad options"), std::string::npos);
    }
  }
}

// Breaks are put in order once each, with a note; those past the last frame are
// named in the summary. A name that is not UTF-8 keeps the JSON valid.
TEST(CliOptions, BreakListIsNormalisedAndUnusedBreaksAreNamed) {
  TempDir dir;
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x90:rate=18:duration=3", "-c:v", "ffv1", dir.File("clip.mkv")});
  const std::string odd = dir.File("caf\xe9");
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
    SCOPED_TRACE(Joined(args) + "\n" + r.out + r.err);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find(c.out_has), std::string::npos);
    EXPECT_NE(r.err.find(c.err_has), std::string::npos);
    EXPECT_EQ(ListDirectory(odd).size(), 3u);
  }
}

}  // namespace
}  // namespace trackloom::testing

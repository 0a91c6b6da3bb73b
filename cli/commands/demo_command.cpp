// `trackloom demo`: the whole road in one command, on a clip made on the fly from
// FFmpeg's own test sources, so nothing needs to be downloaded.
#include <cstdio>
#include <string>

#include "cli/commands/subcommands.h"
#include "cli/common/arguments.h"
#include "cli/common/interrupt.h"
#include "cli/encode/encode.h"

namespace trackloom::cli {
namespace {

constexpr char kDemoHelp[] =
    "Usage: trackloom demo [-o DIR] [--quiet] [--json]\n"
    "\n"
    "Encodes a 12-second clip made from FFmpeg's test sources (a moving colour test\n"
    "pattern at 30 frames per second with a beeping tone) into DIR, default\n"
    "./demo-tracks, with one break at 6 seconds, and prints the summary: two track\n"
    "files, \"VDN Track 01.wav\" and \"VDN Track 02.wav\". Run again, it replaces the\n"
    "track files in DIR, as 'trackloom encode --overwrite' does.\n"
    "\n"
    "Exit status: 0 done, 1 failed (one line on stderr says why), 2 bad options,\n"
    "130 interrupted (Ctrl-C; the tracks written so far are complete).\n";

constexpr int kDemoSeconds = 12;
constexpr int kDemoBreakSeconds = 6;

}  // namespace

int RunDemo(int argc, char** argv) {
  encode::EncodeOptions options;
  options.output_directory = "demo-tracks";
  // The demo's own directory: running it again replaces its tracks.
  options.overwrite = true;
  const std::vector<Option> table = {
      {"output", 'o', "a directory", StoreValue(&options.output_directory)},
      QuietOption(&options.report.quiet),
      JsonOption(&options.report.json),
  };
  const CommandLine line = ReadCommandLine(argc, argv, table, kDemoHelp, stdout, stderr);
  if (line.exit_status) return *line.exit_status;
  if (!line.operands.empty())
    return UsageError(stderr, "demo", "unexpected '" + line.operands[0] + "'");
  options.input = "testsrc2=size=320x180:rate=30:duration=" + std::to_string(kDemoSeconds);
  options.generated = true;
  options.generated_sound =
      "sine=frequency=660:beep_factor=4:sample_rate=44100:duration=" + std::to_string(kDemoSeconds);
  options.known_frames = kDemoSeconds * kFramesPerSecond;
  options.break_times.push_back(kDemoBreakSeconds);
  if (options.report.Words()) {
    std::printf("Encoding a %d-second test pattern with a tone into '%s'...\n", kDemoSeconds,
                options.output_directory->c_str());
    std::fflush(stdout);
  }
  InstallInterruptHandlers();
  return encode::Encode(options).status;
}

}  // namespace trackloom::cli

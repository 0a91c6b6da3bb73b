// `trackloom demo`: the whole road in one command, on a clip made on the fly from
// FFmpeg's own test sources, so nothing needs to be downloaded.
#include <cstdio>
#include <string>

#include "cli/commands/encode_command.h"
#include "cli/commands/subcommands.h"

namespace trackloom::cli {
namespace {

constexpr char kDemoHelp[] =
    "Usage: trackloom demo [-o DIR] [--quiet] [--json]\n"
    "\n"
    "Encodes a 12-second clip made from FFmpeg's test sources (a moving colour test\n"
    "pattern at 30 frames per second with a beeping tone) into DIR, default\n"
    "./demo-tracks, with one break at 6 seconds, and prints the summary: two track\n"
    "files, \"VDN Track 01.wav\" and \"VDN Track 02.wav\".\n";

constexpr int kDemoSeconds = 12;
constexpr int kDemoBreakSeconds = 6;

}  // namespace

int RunDemo(int argc, char** argv) {
  EncodeOptions options;
  options.output_directory = "demo-tracks";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kDemoHelp, stdout);
      return 0;
    } else if ((arg == "-o" || arg == "--output") && i + 1 < argc && argv[i + 1][0] != '\0') {
      options.output_directory = argv[++i];
    } else if (arg.rfind("--output=", 0) == 0 && arg.size() > 9) {
      options.output_directory = arg.substr(9);
    } else if (arg == "-q" || arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--json") {
      options.json = true;
    } else {
      std::fprintf(stderr, "trackloom demo: unexpected '%s' (see 'trackloom demo --help')\n", arg.c_str());
      return 2;
    }
  }
  options.input = "testsrc2=size=320x180:rate=30:duration=" + std::to_string(kDemoSeconds);
  options.generated = true;
  options.generated_sound =
      "sine=frequency=660:beep_factor=4:sample_rate=44100:duration=" + std::to_string(kDemoSeconds);
  options.known_frames = kDemoSeconds * 18;
  options.break_times.push_back(kDemoBreakSeconds);
  if (!options.quiet && !options.json) {
    std::printf("Encoding a %d-second test pattern with a tone into '%s'...\n", kDemoSeconds,
                options.output_directory->c_str());
    std::fflush(stdout);
  }
  return Encode(options);
}

}  // namespace trackloom::cli

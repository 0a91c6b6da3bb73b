// `trackloom disc`: track files into a disc image a CD writer burns as the player
// needs it (first track, the user's tracks, an end track, silent padding; disc-at-once,
// no gaps): NAME.bin with NAME.cue for any burning program, NAME.toc for cdrdao.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands/subcommands.h"
#include "cli/common/arguments.h"
#include "cli/common/duration.h"
#include "cli/common/interrupt.h"
#include "cli/common/platform_text.h"
#include "cli/common/reporter.h"
#include "cli/disc/disc_report.h"
#include "cli/disc/make_disc.h"
#include "cli/disc/test_pattern_disc.h"

namespace trackloom::cli {
namespace {

constexpr char kUsageHead[] =
    "Usage: trackloom disc -o NAME --first FIRST.wav [options] TRACK...\n"
    "       trackloom disc --test-pattern -o NAME --first FIRST.wav [options]\n"
    "\n"
    "Puts track files on one disc image that a VideoNow Color player plays, in the\n"
    "order the player needs: FIRST, the TRACKs in the order given, an end-of-disc\n"
    "track, then silence up to the disc length the player expects. Writes\n"
    "  NAME.bin  the disc's audio: 16-bit little-endian stereo, each track a whole\n"
    "            number of 2352-byte sectors\n"
    "  NAME.cue  a cue sheet for NAME.bin, for any burning program\n"
    "  NAME.toc  the same for cdrdao\n"
    "and says how to burn them: disc-at-once, no gaps, on a CD-R.\n"
    "\n"
    "FIRST is the first track of a retail disc you own, ripped as a WAV file (44100 Hz,\n"
    "16-bit, stereo): the player checks it, so it cannot be made here. Each TRACK must\n"
    "be a valid track file (as 'trackloom inspect' judges it).\n"
    "\n"
    "Options:\n";

constexpr char kUsageTail[] =
    "\n"
    "Tracks shorter than 4 s (the least a CD track may last) get silence added.\n"
    "Nothing is written when a check fails; the image is written under temporary\n"
    "names and renamed when complete, so Ctrl-C or a full disk leaves no half image.\n"
    "Exit status: 0 done (written), 1 failed (refused or failed; one line on stderr\n"
    "says why), 2 bad options, 130 interrupted (Ctrl-C; no image is left).\n"
    "\n"
    "Example:\n";

// Reads --capacity: whole minutes from 1 to 100; the refusal's text, or "".
std::string SetCapacity(const std::string& value, double& minutes) {
  double m = 0;
  if (!ParseDecimal(value, 1, 100, &m) || m != static_cast<int>(m)) {
    return "--capacity takes the blank's whole minutes from 1 to 100, like 21, 74 or 80, not '" +
           value + "'";
  }
  minutes = m;
  return "";
}

// The options, in the order the help lists them; --pad-to sets *pad_given too.
std::vector<Option> DiscOptionTable(DiscOptions& o, bool* pad_given) {
  return {
      {"output", 'o', "the image's name", StoreValue(&o.name), "NAME",
       "the image's name, with its directory (NAME.bin, ...)"},
      {"first", 0, "a WAV file", StoreValue(&o.first), "FILE", "the first track (required)"},
      {"last", 0, "a WAV file", StoreValue(&o.last), "FILE",
       "the end-of-disc track, any CD-audio WAV; without it one of\n"
       "4 s of black is made"},
      {"pad-to", 0, "a disc length like 41:20",
       [&o, pad_given](const std::string& value) {
         *pad_given = true;
         if (ParseTime(value, o.pad_to_seconds) && o.pad_to_seconds <= 100 * 60)
           return std::string();
         return "--pad-to takes a disc length like 41:20, not '" + value + "'";
       },
       "M:SS",
       "add a silent track so the disc lasts at least this long\n"
       "(default 41:20, what the player expects)"},
      {"no-pad", 0, nullptr, StoreFlag(&o.pad, false), nullptr, "no silent track"},
      {"capacity", 0, "a number of minutes",
       [&o](const std::string& value) { return SetCapacity(value, o.capacity_minutes); }, "MINUTES",
       "the blank's length in whole minutes, from 1 (default 80);\n"
       "the padding stops there"},
      {"split", 0, nullptr, StoreFlag(&o.split), nullptr,
       "when the tracks do not fit one disc, write as many as they\n"
       "need: NAME-1.bin/.cue/.toc, NAME-2..., each a whole disc with\n"
       "FIRST and an end track, the tracks in their order, none cut"},
      {"test-pattern", 0, nullptr, StoreFlag(&o.test_pattern), nullptr,
       "a disc that tests a player: short tracks of colour levels,\n"
       "motion, sync, sound channels, pixel shape, lengths and level\n"
       "tables, each after a card saying what to look for (kept in\n"
       "NAME-tracks/)"},
      JsonOption(&o.json, "the summary as JSON on stdout: each disc and its tracks"),
      QuietOption(&o.quiet, "no progress or summary; errors only"),
  };
}

// Parses the options after the subcommand's name: -1 to go on, otherwise the exit
// status (0 after --help, 2 after a wrong option, with one line on err).
int ParseDiscOptions(int argc, char** argv, DiscOptions& o, std::FILE* out, std::FILE* err) {
  bool pad_given = false;
  const std::vector<Option> table = DiscOptionTable(o, &pad_given);
  const CommandLine line =
      ReadCommandLine(argc, argv, table,
                      HelpText(kUsageHead, table, {22, "this help"},
                               (std::string(kUsageTail) + DiscHelpExample()).c_str()),
                      out, err);
  if (line.exit_status) return *line.exit_status;
  o.tracks = line.operands;
  if (o.name.empty()) return UsageError(err, "disc", "no image name: give one with -o NAME");
  if (o.first.empty()) {
    return UsageError(
        err, "disc",
        "no first track: give the first track of a retail disc you own with --first FILE.wav");
  }
  if (o.test_pattern && !o.tracks.empty()) {
    return UsageError(err, "disc",
                      "--test-pattern makes its own tracks: give no track files with it");
  }
  if (o.tracks.empty() && !o.test_pattern) return UsageError(err, "disc", "no track files given");
  if (pad_given && !o.pad)
    return UsageError(err, "disc", "--pad-to and --no-pad contradict each other");
  return -1;
}

}  // namespace

int RunDisc(int argc, char** argv) {
  DiscOptions options;
  const int status = ParseDiscOptions(argc, argv, options, stdout, stderr);
  if (status >= 0) return status;
  InstallInterruptHandlers();
  Reporter report;
  report.quiet = options.quiet;
  report.json = options.json;
  if (options.test_pattern) {
    const encode::EncodeResult tracks = disc::EncodeTestTracks(options, report);
    if (tracks.status != 0) return tracks.status;
    options.tracks = tracks.tracks;
  }
  disc::ReportDisc(options, disc::MakeDisc(options, report), report);
  return 0;
}

}  // namespace trackloom::cli

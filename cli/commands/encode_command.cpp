// trackloom encode's command line: its help, its options and the checks of what they
// say together, before anything is opened.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands/subcommands.h"
#include "cli/common/arguments.h"
#include "cli/common/duration.h"
#include "cli/common/interrupt.h"
#include "cli/common/platform.h"
#include "cli/common/reporter.h"
#include "cli/disc/disc_report.h"
#include "cli/disc/make_disc.h"
#include "cli/encode/encode.h"
#include "cli/encode/encode_run_plan.h"
#include "cli/ffmpeg/picture_shaping.h"
#include "cli/pictures/panel_levels.h"
#include "cli/pictures/subpixel_sampling.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli {

namespace {

constexpr char kEncodeHelpHead[] =
    "Usage: trackloom encode INPUT... -o DIR [options]\n"
    "\n"
    "Turns any video FFmpeg can read into track files for VideoNow Color players:\n"
    "\"VDN Track 01.wav\", \"VDN Track 02.wav\", ... in DIR. The picture is shaped for\n"
    "the player's 4:3 screen (its 144 x 80 pixels show taller than wide), dithered to\n"
    "the panel's 16 levels a colour and converted to 18 frames per second; the sound\n"
    "is resampled to 8-bit stereo at 17640 Hz. An input of exactly 144 x 80 is taken\n"
    "as made for the player and passed on as it is, unless --fit, --dither,\n"
    "--sampling or --levels adaptive is given.\n"
    "With --levels adaptive every track carries level tables of its own, chosen from\n"
    "all its pictures, which wait in a temporary file in DIR until the track's end\n"
    "(about 2.3 GB for an hour of one track): dark or misty scenes get finer steps. A\n"
    "player that ignored the tables would show such a track far off; retail discs\n"
    "rely on them, so none is expected to, and the level-table card of the test disc\n"
    "('trackloom disc --test-pattern') tells.\n"
    "A DIR that already holds track files is refused unless --overwrite is given,\n"
    "and so is a DIR another encode is writing into. Several INPUTs make one run:\n"
    "each starts a new track, numbered on from the tracks of the one before.\n"
    "A still picture (a photo, or the cover art of a music file given as INPUT) is\n"
    "shown for as long as its sound plays; its frames count at 18 a second.\n"
    "An INPUT (or --audio FILE) of '-' is standard input, e.g. a pipe from ffmpeg\n"
    "(-f matroska, mpegts, nut or yuv4mpegpipe). A pipe can be read only once: when\n"
    "its sound is used, it is first copied into a temporary file in DIR, which needs\n"
    "room for it; with --no-audio or --audio, or from a stream that cannot carry\n"
    "sound (yuv4mpegpipe, piped PNG or JPEG pictures), its pictures are read as they\n"
    "come, and an MP4 then needs -movflags frag_keyframe+empty_moov.\n"
    "\n"
    "Options:\n";

constexpr char kEncodeHelpTail[] =
    "\n"
    "Each frame record takes exactly 1/9 s of disc time (a track plays at double CD\n"
    "speed), so an 80-minute disc holds 40:00 of video (a track's 2048-byte lead-in,\n"
    "which the player skips, is not counted). The lengths the inputs' containers give\n"
    "are checked against the disc, all inputs together, before anything is written.\n"
    "Ctrl-C stops after the current frame; the open track is finished and usable.\n"
    "A track left unfinished by a crash or power cut is mended by 'trackloom repair'.\n"
    "Exit status: 0 done, 1 failed (one line on stderr says why), 2 bad options,\n"
    "130 interrupted (Ctrl-C; the tracks written so far are complete).\n"
    "\n"
    "Examples:\n"
    "  trackloom encode film.mp4 -o tracks\n"
    "  trackloom encode film.mkv -o tracks --fit crop --break-at 10:00,20:00\n"
    "  trackloom encode clip.mov -o tracks --audio music.flac\n"
    "  trackloom encode cover.jpg -o tracks --audio song.flac\n"
    "  ffmpeg -i capture.avi -f matroska - | trackloom encode - -o tracks\n"
    "  trackloom encode a.mp4 b.mkv c.mov -o tracks --disc cartoon --first first.wav\n";

}  // namespace

namespace {

std::string SetBreakTimes(const std::string& value, std::vector<double>& times) {
  size_t start = 0;
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    double seconds = 0;
    const std::string item = value.substr(start, comma - start);
    if (!ParseTime(item, seconds))
      return "--break-at takes times like 1:30 or 95.5, not '" + item + "'";
    times.push_back(seconds);
    start = comma + 1;
  }
  return "";
}

std::string SetLoudness(const std::string& value, double& target) {
  if (value == "off") {
    target = std::nan("");
    return "";
  }
  char* end = nullptr;
  const double lufs = std::strtod(value.c_str(), &end);
  if (value.empty() || *end != '\0' || !(lufs >= -50 && lufs <= -5)) {
    return "--loudness takes a loudness from -50 to -5 LUFS, or off, not '" + value + "'";
  }
  target = lufs;
  return "";
}

std::string SetDiscMinutes(const std::string& value, double& minutes) {
  double m = 0;
  if (!ParseDecimal(value, 0, 100000, &m) || m == 0) {
    return "--disc-minutes takes a positive number of minutes, not '" + value + "'";
  }
  minutes = m;
  return "";
}

// --fit, --dither, --levels, --sampling and --video-stream: how the pictures are read
// and shaped.
std::vector<Option> PictureOptionTable(ffmpeg::PictureOptions& p) {
  return {
      Choose({"fit", 0, "letterbox, crop or stretch", nullptr, "MODE",
              "how the picture fills the player's 4:3 screen:"},
             &p.fit,
             {{"letterbox", ffmpeg::Fit::kLetterbox, "whole picture, black bands (default)"},
              {"crop", ffmpeg::Fit::kCrop, "fill the screen, cut the edges"},
              {"stretch", ffmpeg::Fit::kStretch, "fill 144 x 80, distort the picture"}},
             StoreFlag(&p.fit_given)),
      Choose({"dither", 0, "ordered or none", nullptr, "MODE",
              "how colours reach the panel's 16 levels:"},
             &p.dither,
             {{"ordered", Dither::kOrdered, "a fine fixed pattern, no bands (default)"},
              {"none", Dither::kNone, "each component rounded"}},
             StoreFlag(&p.dither_given)),
      Choose({"levels", 0, "standard or adaptive", nullptr, "MODE",
              "which 16 of the panel's 32 levels a colour shows:"},
             &p.levels,
             {{"standard", LevelsMode::kStandard, "the near-even ramp the filter writes (default)"},
              {"adaptive", LevelsMode::kAdaptive,
               "chosen for each track from its pictures,\n"
               "finer where they lie (dark scenes, fog);\n"
               "the track's level tables say which"}}),
      Choose({"sampling", 0, "pixel or subpixel", nullptr, "MODE",
              "where a pixel's colours are taken from the picture:"},
             &p.sampling,
             {{"subpixel", Sampling::kSubpixel,
               "each around the dot the panel shows it\n"
               "on: finer text and edges (default)"},
              {"pixel", Sampling::kPixel, "all three from the whole pixel"}},
             StoreFlag(&p.sampling_given)),
      {"video-stream", 0, "a stream number",
       [&p](const std::string& value) {
         return ParseWholeNumber(value, 0, INT_MAX, &p.video_stream)
                    ? ""
                    : "--video-stream takes a stream number as ffprobe lists it, not '" + value +
                          "'";
       },
       "N",
       "read INPUT's video stream N (its number as ffprobe\n"
       "lists it, #0:N); by default the moving picture,\n"
       "never a cover or other single picture beside it"},
  };
}

// --audio, --no-audio, --loudness and --mono: where the sound comes from, and how loud.
std::vector<Option> SoundOptionTable(encode::EncodeOptions& o) {
  return {
      {"audio", 0, "a file", StoreValue(&o.audio_file), "FILE",
       "take the sound from FILE instead of INPUT; a WAV that\n"
       "already is 8-bit stereo 17640 Hz is used as it is"},
      {"no-audio", 0, nullptr, StoreFlag(&o.no_audio), nullptr, "silent tracks"},
      {"loudness", 0, "a loudness in LUFS, e.g. -16, or off",
       [&o](const std::string& value) { return SetLoudness(value, o.sound.loudness_target); },
       "LUFS",
       "bring the sound to this loudness with one gain for the\n"
       "whole input, peaks limited under -1 dBFS (default -16;\n"
       "'off' keeps the input's level)"},
      {"mono", 0, nullptr, StoreFlag(&o.sound.mono), nullptr,
       "the same sound in both channels, mixed from all of them"},
  };
}

// --break, --break-at and --break-every: where new tracks start.
std::vector<Option> BreakOptionTable(encode::EncodeOptions& o) {
  return {
      {"break", 0, "frame numbers, e.g. --break 100,250",
       [&o](const std::string& value) {
         if (const std::optional<std::string> bad =
                 encode::ReadBreakFrames(value, o.break_frames)) {
           return "--break takes frame numbers from 1 to 2147483647 like 100,250, not '" + *bad +
                  "'";
         }
         return std::string();
       },
       "LIST",
       "start a new track at these source frames, e.g.\n"
       "--break 100,250 (frames of INPUT at its own rate,\n"
       "1 to 2147483647; put in order, each once)"},
      {"break-at", 0, "times, e.g. --break-at 1:30,3:05.5",
       [&o](const std::string& value) {
         if (value != "chapters") return SetBreakTimes(value, o.break_times);
         o.break_at_chapters = true;
         return std::string();
       },
       "TIMES",
       "start a new track at these times of INPUT, e.g.\n"
       "--break-at 1:30,3:05.5 (seconds, M:SS or H:MM:SS);\n"
       "--break-at chapters: at every chapter of INPUT."},
      {"break-every", 0, "a duration, e.g. --break-every 10:00",
       [&o](const std::string& value) {
         if (ParseTime(value, o.break_every) && o.break_every >= 1) return std::string();
         return "--break-every takes a duration of at least 1 s like 10:00 or 90, not '" + value +
                "'";
       },
       "DURATION",
       "start a new track every DURATION of INPUT, e.g.\n"
       "--break-every 10:00. With several INPUTs, --break,\n"
       "--break-at and --break-every apply to each, counted\n"
       "from its own start"},
  };
}

// --disc and the options that go with it.
std::vector<Option> DiscOptionTable(DiscOptions& d) {
  return {
      {"disc", 0, "the image's name", StoreValue(&d.name), "NAME",
       "then write the disc image NAME.bin, NAME.cue and\n"
       "NAME.toc of the tracks (see 'trackloom disc --help')"},
      {"first", 0, "a WAV file", StoreValue(&d.first), "FILE",
       "with --disc: the first track of a retail disc"},
      {"last", 0, "a WAV file", StoreValue(&d.last), "FILE",
       "with --disc: the end-of-disc track (default: 4 s black)"},
      {"pad-to", 0, "a disc length like 41:20",
       [&d](const std::string& value) {
         if (ParseTime(value, d.pad_to_seconds) && d.pad_to_seconds <= 100 * 60)
           return std::string();
         return "--pad-to takes a disc length like 41:20, not '" + value + "'";
       },
       "M:SS", "with --disc: silence up to this disc length (41:20)"},
      {"no-pad", 0, nullptr, StoreFlag(&d.pad, false), nullptr, "with --disc: no silent track"},
      {"split", 0, nullptr, StoreFlag(&d.split), nullptr,
       "with --disc: as many discs as the tracks need, NAME-1,\n"
       "NAME-2, ..., each of --disc-minutes"},
  };
}

void Append(std::vector<Option>& table, const std::vector<Option>& part) {
  table.insert(table.end(), part.begin(), part.end());
}

// Every option, in the order the help lists them.
std::vector<Option> EncodeOptionTable(encode::EncodeOptions& o) {
  std::vector<Option> table = {
      {"output", 'o', "a directory", StoreValue(&o.output_directory), "DIR",
       "where the tracks go (created if missing)"},
      {"overwrite", 0, nullptr, StoreFlag(&o.overwrite), nullptr,
       "replace the track files already in DIR; those numbered\n"
       "past the new last track are removed at the end"},
  };
  Append(table, PictureOptionTable(o.pictures));
  Append(table, SoundOptionTable(o));
  Append(table, BreakOptionTable(o));
  table.push_back({"settings", 0, "a file", StoreValue(&o.settings_file), "FILE",
                   "run the Config(...) lines of FILE first (the filter's\n"
                   "saved settings, e.g. from 'trackloom configure');\n"
                   "options given here override them"});
  table.push_back({"disc-minutes", 0, "a number of minutes",
                   [&o](const std::string& value) { return SetDiscMinutes(value, o.disc_minutes); },
                   "N",
                   "warn when the tracks take more than N minutes of disc\n"
                   "time (default 80, a CD-R); refuse a track longer than\n"
                   "that, or more than four times that in all"});
  Append(table, DiscOptionTable(o.disc));
  table.push_back(QuietOption(&o.report.quiet, "no progress, notes or summary; errors only"));
  table.push_back(JsonOption(&o.report.json,
                             "print a machine-readable summary on stdout, one line\n"
                             "per INPUT (a name that is not UTF-8 also comes byte\n"
                             "for byte in hex, under the same key with _hex after it)"));
  table.push_back(VerboseOption(&o.report.verbose, "show FFmpeg's own warnings"));
  return table;
}

int BadOption(const std::string& message) { return UsageError(stderr, "encode", message); }

// Parses the options after the subcommand's name (argv[0]). Returns nothing when the
// command should go on, otherwise the exit status (0 after --help, 2 after a bad
// option, with one line on stderr).
std::optional<int> ParseEncodeOptions(int argc, char** argv, encode::EncodeOptions& o) {
  const std::vector<Option> table = EncodeOptionTable(o);
  const CommandLine line = ReadCommandLine(
      argc, argv, table, HelpText(kEncodeHelpHead, table, {26, "this help"}, kEncodeHelpTail),
      stdout, stderr);
  if (line.exit_status) return line.exit_status;
  if (line.operands.empty()) return BadOption("no input video given");
  o.inputs = line.operands;
  o.input = line.operands[0];
  if (o.inputs.size() > 1 && o.audio_file) {
    return BadOption("--audio gives the sound of one input, but " +
                     std::to_string(o.inputs.size()) + " were given");
  }
  const bool disc_options = !o.disc.first.empty() || o.disc.last || !o.disc.pad || o.disc.split ||
                            o.disc.pad_to_seconds != DiscOptions{}.pad_to_seconds;
  if (o.disc.name.empty() && disc_options)
    return BadOption("--first, --last, --pad-to, --no-pad and --split go with --disc NAME");
  if (!o.disc.name.empty() && o.disc.first.empty()) {
    return BadOption("--disc needs the first track of a retail disc you own: --first FILE.wav");
  }
  if (o.no_audio && o.audio_file) return BadOption("--audio and --no-audio contradict each other");
  const auto stdin_readers =
      std::count(o.inputs.begin(), o.inputs.end(), "-") + (o.audio_file.value_or("") == "-");
  if (stdin_readers > 1) {
    return BadOption(
        "standard input ('-') can be read only once: give it as one INPUT or as "
        "--audio, not both or twice");
  }
  if (stdin_readers > 0 && isatty(STDIN_FILENO)) {
    return BadOption(
        "standard input ('-') is a terminal: pipe a video into it, e.g. ffmpeg -i "
        "film.avi -f matroska - | trackloom encode - -o DIR");
  }
  return std::nullopt;
}

// --disc NAME: the disc image of the run's tracks, its summary as the encode's.
void WriteDisc(const encode::EncodeOptions& o, const std::vector<std::string>& tracks) {
  const DiscOptions image = encode::EncodeDiscOptions(o, tracks);
  Reporter report = o.report;
  report.quiet = image.quiet;
  report.json = false;
  disc::ReportDisc(image, disc::MakeDisc(image, report), report);
}

}  // namespace

int RunEncode(int argc, char** argv) {
  encode::EncodeOptions options;
  if (const std::optional<int> status = ParseEncodeOptions(argc, argv, options)) return *status;
  InstallInterruptHandlers();
  // Found out before the encode, not after it.
  if (!options.disc.name.empty()) CheckFirstTrack(options.disc.first);
  const encode::EncodeResult result = encode::Encode(options);
  if (result.status == 0 && !options.disc.name.empty()) WriteDisc(options, result.tracks);
  return result.status;
}

}  // namespace trackloom::cli

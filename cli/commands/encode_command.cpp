#include "cli/commands/encode_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/commands/disc_command.h"
#include "cli/commands/encode_run_plan.h"
#include "cli/commands/filter_session.h"
#include "cli/commands/subcommands.h"
#include "cli/commands/track_staging.h"
#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/progress.h"
#include "cli/common/read_once.h"
#include "cli/common/temp_file.h"
#include "cli/ffmpeg/audio_convert.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/disc_time.h"
#include "cli/tracks/track_files.h"
#include "core/wave_file.h"
#include "host/filter_module.h"

extern "C" {
#include <libavutil/log.h>
}

namespace trackloom::cli {
namespace {

constexpr char kEncodeHelp[] =
    "Usage: trackloom encode INPUT... -o DIR [options]\n"
    "\n"
    "Turns any video FFmpeg can read into track files for VideoNow Color players:\n"
    "\"VDN Track 01.wav\", \"VDN Track 02.wav\", ... in DIR. The picture is shaped for\n"
    "the player's 4:3 screen (its 144 x 80 pixels show taller than wide), dithered to\n"
    "the panel's 16 levels a colour and converted to 18 frames per second; the sound\n"
    "is resampled to 8-bit stereo at 17640 Hz. An input of exactly 144 x 80 is taken\n"
    "as made for the player and passed on as it is, unless --fit or --dither is given.\n"
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
    "Options:\n"
    "  -o, --output DIR        where the tracks go (created if missing)\n"
    "  --overwrite             replace the track files already in DIR; those numbered\n"
    "                          past the new last track are removed at the end\n"
    "  --fit MODE              how the picture fills the player's 4:3 screen:\n"
    "                            letterbox  whole picture, black bands (default)\n"
    "                            crop       fill the screen, cut the edges\n"
    "                            stretch    fill 144 x 80, distort the picture\n"
    "  --dither MODE           how colours reach the panel's 16 levels:\n"
    "                            ordered    a fine fixed pattern, no bands (default)\n"
    "                            none       each component rounded\n"
    "  --video-stream N        read INPUT's video stream N (its number as ffprobe\n"
    "                          lists it, #0:N); by default the moving picture,\n"
    "                          never a cover or other single picture beside it\n"
    "  --audio FILE            take the sound from FILE instead of INPUT; a WAV that\n"
    "                          already is 8-bit stereo 17640 Hz is used as it is\n"
    "  --no-audio              silent tracks\n"
    "  --loudness LUFS         bring the sound to this loudness with one gain for the\n"
    "                          whole input, peaks limited under -1 dBFS (default -16;\n"
    "                          'off' keeps the input's level)\n"
    "  --mono                  the same sound in both channels, mixed from all of them\n"
    "  --break LIST            start a new track at these source frames, e.g.\n"
    "                          --break 100,250 (frames of INPUT at its own rate,\n"
    "                          1 to 2147483647; put in order, each once)\n"
    "  --break-at TIMES        start a new track at these times of INPUT, e.g.\n"
    "                          --break-at 1:30,3:05.5 (seconds, M:SS or H:MM:SS);\n"
    "                          --break-at chapters: at every chapter of INPUT.\n"
    "  --break-every DURATION  start a new track every DURATION of INPUT, e.g.\n"
    "                          --break-every 10:00. With several INPUTs, --break,\n"
    "                          --break-at and --break-every apply to each, counted\n"
    "                          from its own start\n"
    "  --settings FILE         run the Config(...) lines of FILE first (the filter's\n"
    "                          saved settings, e.g. from 'trackloom configure');\n"
    "                          options given here override them\n"
    "  --disc-minutes N        warn when the tracks take more than N minutes of disc\n"
    "                          time (default 80, a CD-R); refuse a track longer than\n"
    "                          that, or more than four times that in all\n"
    "  --disc NAME             then write the disc image NAME.bin, NAME.cue and\n"
    "                          NAME.toc of the tracks (see 'trackloom disc --help')\n"
    "  --first FILE            with --disc: the first track of a retail disc\n"
    "  --last FILE             with --disc: the end-of-disc track (default: 4 s black)\n"
    "  --pad-to M:SS           with --disc: silence up to this disc length (41:20)\n"
    "  --no-pad                with --disc: no silent track\n"
    "  -q, --quiet             no progress, notes or summary; errors only\n"
    "  --json                  print a machine-readable summary on stdout, one line\n"
    "                          per INPUT (a name that is not UTF-8 also comes byte\n"
    "                          for byte in hex, under the same key with _hex after it)\n"
    "  -v, --verbose           show FFmpeg's own warnings\n"
    "  -h, --help              this help\n"
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

int BadOption(const std::string& message) { return UsageError(stderr, "encode", message); }

// Frames of the picture source, handed to the editor top-down as the last row with a
// negative pitch. A decoding failure ends the render normally (so the open track is
// finished) and is reported afterwards.
class VideoFrameSource : public runner::FrameSource {
 public:
  // After limit frames the source ends with too_long as its failure.
  VideoFrameSource(VideoSource& video, int64_t total, int64_t limit, std::string too_long)
      : video_(video), total_(total), limit_(limit), too_long_(std::move(too_long)) {}
  runner::FrameFormat format() const override { return {}; }
  int64_t frame_count() const override { return total_; }
  std::optional<runner::Frame> Next() override {
    if (failure_) return std::nullopt;
    if (delivered_++ >= limit_) {
      failure_ = too_long_;
      return std::nullopt;
    }
    Picture picture;
    try {
      if (!video_.Next(picture)) return std::nullopt;
    } catch (const CliError& e) {
      failure_ = e.what();
      return std::nullopt;
    }
    runner::Frame frame;
    frame.picture = runner::FrameView::TopDown(picture.top_row, picture.stride, kPictureHeight);
    frame.source_frame = static_cast<int32_t>(std::min<int64_t>(picture.source_frame, INT32_MAX));
    last_source_frame_ = std::max<int64_t>(last_source_frame_, picture.source_frame);
    return frame;
  }
  const std::optional<std::string>& failure() const { return failure_; }
  int64_t last_source_frame() const { return last_source_frame_; }

 private:
  VideoSource& video_;
  int64_t total_;
  int64_t limit_;
  std::string too_long_;
  int64_t delivered_ = 0;
  int64_t last_source_frame_ = -1;
  std::optional<std::string> failure_;
};

void PrepareOutputDirectory(const std::string& directory) {
  std::error_code error;
  std::filesystem::create_directories(directory, error);
  if (error) {
    throw CliError("cannot create the output directory '" + directory + "': " + error.message());
  }
  if (!std::filesystem::is_directory(directory, error)) {
    throw CliError("the output path '" + directory + "' is not a directory");
  }
  if (access(directory.c_str(), W_OK | X_OK) != 0) {
    throw CliError("cannot write to the output directory '" + directory +
                   "': " + std::strerror(errno));
  }
}

// Why the filter's last write failed, from the reason its file object recorded.
std::string WriteFailureReason() {
  const int error = WaveFile::LastError();
  if (error == WaveFile::kPastSizeFields) {
    return "the track reached the 4 GiB limit of a WAV file; add a break earlier";
  }
  return DescribeError(error);
}

// "a track file (VDN Track 01.wav)" or "5 track files (VDN Track 01.wav to VDN Track 05.wav)".
std::string DescribeTrackNumbers(const std::vector<int>& numbers) {
  if (numbers.size() == 1) return "a track file (" + TrackFileName(numbers.front()) + ")";
  return std::to_string(numbers.size()) + " track files (" + TrackFileName(numbers.front()) +
         " to " + TrackFileName(numbers.back()) + ")";
}

struct AudioPlan {
  std::string path;         // what the filter reads; empty: silent
  std::string description;  // for the summary
  double seconds = 0;       // how long it plays, where known
};

}  // namespace

std::optional<std::string> ReadBreakFrames(const std::string& text, std::vector<int>& frames) {
  const auto separator = [](char c) { return c == ',' || c == ';' || c == ' ' || c == '\t'; };
  bool any = false;
  size_t i = 0;
  while (i < text.size()) {
    if (separator(text[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && !separator(text[end])) ++end;
    const std::string item = text.substr(i, end - i);
    int frame = 0;
    // Frame 0 starts the first track anyway; a larger number than the filter's
    // 32-bit frame counter is no frame at all.
    if (!ParseWholeNumber(item, 1, INT_MAX, &frame)) return item;
    frames.push_back(frame);
    any = true;
    i = end;
  }
  if (!any) return text;
  return std::nullopt;
}

int64_t FrameAtTime(double seconds, double frame_rate) {
  // The small allowance keeps a time given to the frame (1.5 s at 30 fps) on that
  // frame despite binary fractions.
  const double frame = std::floor(seconds * frame_rate + 1e-6);
  // 2^63: a time of centuries is no 64-bit frame number. It becomes the largest one,
  // which the caller refuses as too far in, rather than whatever the conversion gives.
  if (!(frame < 9223372036854775808.0)) return INT64_MAX;
  return static_cast<int64_t>(frame);
}

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

std::vector<Option> EncodeOptionTable(EncodeOptions& o) {
  return {
      {"output", 'o', "a directory", StoreValue(&o.output_directory)},
      {"overwrite", 0, nullptr, StoreFlag(&o.overwrite)},
      {"fit", 0, "letterbox, crop or stretch",
       [&o](const std::string& value) {
         o.pictures.fit_given = true;
         return ParseFit(value, o.pictures.fit)
                    ? ""
                    : "--fit takes letterbox, crop or stretch, not '" + value + "'";
       }},
      {"dither", 0, "ordered or none",
       [&o](const std::string& value) {
         o.pictures.dither_given = true;
         return ParseDither(value, o.pictures.dither)
                    ? ""
                    : "--dither takes ordered or none, not '" + value + "'";
       }},
      {"video-stream", 0, "a stream number",
       [&o](const std::string& value) {
         return ParseWholeNumber(value, 0, INT_MAX, &o.pictures.video_stream)
                    ? ""
                    : "--video-stream takes a stream number as ffprobe lists it, not '" + value +
                          "'";
       }},
      {"audio", 0, "a file", StoreValue(&o.audio_file)},
      {"no-audio", 0, nullptr, StoreFlag(&o.no_audio)},
      {"loudness", 0, "a loudness in LUFS, e.g. -16, or off",
       [&o](const std::string& value) { return SetLoudness(value, o.sound.loudness_target); }},
      {"mono", 0, nullptr, StoreFlag(&o.sound.mono)},
      {"break", 0, "frame numbers, e.g. --break 100,250",
       [&o](const std::string& value) {
         if (const std::optional<std::string> bad = ReadBreakFrames(value, o.break_frames)) {
           return "--break takes frame numbers from 1 to 2147483647 like 100,250, not '" + *bad +
                  "'";
         }
         return std::string();
       }},
      {"break-at", 0, "times, e.g. --break-at 1:30,3:05.5",
       [&o](const std::string& value) {
         if (value != "chapters") return SetBreakTimes(value, o.break_times);
         o.break_at_chapters = true;
         return std::string();
       }},
      {"break-every", 0, "a duration, e.g. --break-every 10:00",
       [&o](const std::string& value) {
         if (ParseTime(value, o.break_every) && o.break_every >= 1) return std::string();
         return "--break-every takes a duration of at least 1 s like 10:00 or 90, not '" + value +
                "'";
       }},
      {"disc", 0, "the image's name", StoreValue(&o.disc.name)},
      {"first", 0, "a WAV file", StoreValue(&o.disc.first)},
      {"last", 0, "a WAV file", StoreValue(&o.disc.last)},
      {"pad-to", 0, "a disc length like 41:20",
       [&o](const std::string& value) {
         if (ParseTime(value, o.disc.pad_to_seconds) && o.disc.pad_to_seconds <= 100 * 60)
           return std::string();
         return "--pad-to takes a disc length like 41:20, not '" + value + "'";
       }},
      {"no-pad", 0, nullptr, StoreFlag(&o.disc.pad, false)},
      {"settings", 0, "a file", StoreValue(&o.settings_file)},
      {"disc-minutes", 0, "a number of minutes",
       [&o](const std::string& value) { return SetDiscMinutes(value, o.disc_minutes); }},
      QuietOption(&o.quiet),
      JsonOption(&o.json),
      VerboseOption(&o.verbose),
  };
}

}  // namespace

std::optional<int> ParseEncodeOptions(int argc, char** argv, EncodeOptions& o) {
  const CommandLine line =
      ReadCommandLine(argc, argv, EncodeOptionTable(o), kEncodeHelp, stdout, stderr);
  if (line.exit_status) return line.exit_status;
  if (line.operands.empty()) return BadOption("no input video given");
  o.inputs = line.operands;
  o.input = line.operands[0];
  if (o.inputs.size() > 1 && o.audio_file) {
    return BadOption("--audio gives the sound of one input, but " +
                     std::to_string(o.inputs.size()) + " were given");
  }
  const bool disc_options = !o.disc.first.empty() || o.disc.last || !o.disc.pad ||
                            o.disc.pad_to_seconds != DiscOptions{}.pad_to_seconds;
  if (o.disc.name.empty() && disc_options)
    return BadOption("--first, --last, --pad-to and --no-pad go with --disc NAME");
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

namespace {

// Ctrl-C before the render began: nothing was written.
int Interrupted(const EncodeOptions& o) {
  if (!o.quiet) PrintError(stderr, "interrupted before any track was written");
  return InterruptedExitStatus();
}

// What an encode will do, settled before anything is written.
struct EncodePlan {
  std::string directory;
  std::optional<std::string> audio_file;  // the sound from another file than the input
  // A read-once input that cannot carry sound, handed on as it comes; it outlives
  // video, which reads it.
  std::unique_ptr<ReadOnceInput> relayed;
  std::unique_ptr<VideoSource> video;
  // What is opened for the input and for audio_file: themselves, or the copies of
  // those that can be read only once.
  std::string source;
  std::string audio_source;
  std::unique_ptr<TempFile> input_copy;
  std::unique_ptr<TempFile> audio_copy;
  std::string breaks;                            // in the filter's list form
  std::optional<std::vector<int>> break_frames;  // from the command line, in order
  int64_t expected = -1;                         // records, where known
  double disc_limit = 0;                         // seconds of disc time a disc holds
  int64_t far_records = 0;  // records past which the encode is taken for a mistake
  std::string far_text;     // how the messages name that limit
};

constexpr size_t kUniquePart = 6;  // the XXXXXX of mkdtemp() and mkostemps()
constexpr size_t kStagingNameLength = sizeof kStagingPrefix - 1 + kUniquePart;
constexpr size_t kSoundNameLength = sizeof kSoundPrefix - 1 + kUniquePart + sizeof kSoundSuffix - 1;
constexpr size_t kTrackNameLength = 16;  // "VDN Track 01.wav"
static_assert(kMaxOutputDirectoryLength == kMaxPathLength - 1 - kTrackNameLength);

// The longest path, after the output directory, that the encode hands the filter
// (which takes at most kMaxPathLength bytes) or creates.
size_t LongestPathInside(const EncodeOptions& o) {
  // Several inputs, and --overwrite, stage tracks one directory down.
  const size_t staging = o.inputs.size() > 1 || o.overwrite ? 1 + kStagingNameLength : 0;
  const bool named_sound = !o.no_audio && !TempFile::UnnamedFilesHaveShortPaths();
  return staging + 1 + std::max(kTrackNameLength, named_sound ? kSoundNameLength : 0);
}

// The output directory as given or saved, checked against the filter's path field.
std::string OutputDirectory(const EncodeOptions& o, const FilterSettings& saved) {
  std::string directory = o.output_directory.value_or(saved.output_directory);
  if (directory.empty()) throw BadOptionError("no output directory: give one with -o DIR");
  // The filter drops one trailing separator itself; all of them go here, so the
  // names in the summary read cleanly.
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  const size_t limit = kMaxPathLength - LongestPathInside(o);
  if (directory.size() > limit) {
    throw CliError(
        "the output directory '" + directory + "' is too long: the filter takes paths of at most " +
        std::to_string(kMaxPathLength) + " characters, which leaves " + std::to_string(limit) +
        " for the directory" + (o.inputs.size() > 1 ? " with several inputs" : "") +
        ", and it has " + std::to_string(directory.size()) + "; give a shorter one");
  }
  return directory;
}

// The file system's own limits for the names the encode makes in directory.
void CheckNameLimits(const EncodeOptions& o, const std::string& directory) {
  errno = 0;
  const long name_max = pathconf(directory.c_str(), _PC_NAME_MAX);
  const size_t longest_name = std::max({kTrackNameLength, kStagingNameLength, kSoundNameLength});
  if (name_max > 0 && static_cast<size_t>(name_max) < longest_name) {
    throw CliError("the file system of '" + directory + "' takes names of at most " +
                   std::to_string(name_max) + " characters, and the encode needs " +
                   std::to_string(longest_name) + "; give a directory on another disk");
  }
  const long path_max = pathconf(directory.c_str(), _PC_PATH_MAX);
  if (path_max > 0 && directory.size() + LongestPathInside(o) >= static_cast<size_t>(path_max)) {
    throw CliError("the output directory '" + directory + "' is too long for its file system (" +
                   std::to_string(path_max) + " characters a path); give a shorter one");
  }
}

std::string BreakListText(const std::vector<int>& frames) {
  std::string list;
  for (int f : frames) list += (list.empty() ? "" : ",") + std::to_string(f);
  return list;
}

}  // namespace

std::optional<std::vector<int>> BreakFrames(const EncodeOptions& o, const VideoSource& video) {
  if (o.break_frames.empty() && o.break_times.empty() && !o.break_at_chapters &&
      o.break_every == 0) {
    return std::nullopt;
  }
  std::vector<int> frames = o.break_frames;
  for (double seconds : o.break_times) {
    const int64_t frame = FrameAtTime(seconds, video.input_frame_rate());
    if (frame > INT_MAX) {
      throw BadOptionError("--break-at " + FormatDuration(seconds) + " is frame " +
                           std::to_string(frame) + " of '" + o.input +
                           "', past the last frame number a track can count (2147483647)");
    }
    if (frame > 0) frames.push_back(static_cast<int>(frame));
  }
  if (o.break_at_chapters) {
    if (video.chapter_starts().empty() && !o.quiet) {
      PrintNote(stderr, "'" + o.input + "' has no chapters to break at");
    }
    for (double seconds : video.chapter_starts()) {
      const int64_t frame = FrameAtTime(seconds, video.input_frame_rate());
      if (frame > 0 && frame <= INT_MAX)
        frames.push_back(static_cast<int>(frame));  // not before the first picture
    }
  }
  std::vector<int> sorted = frames;
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  if (sorted.size() > static_cast<size_t>(kMaxBreaks)) {
    throw BadOptionError("at most " + std::to_string(kMaxBreaks) + " break frames, but " +
                         std::to_string(sorted.size()) + " were given");
  }
  if (sorted != frames && !o.quiet && !o.break_at_chapters) {
    PrintNote(stderr, "breaking at frames " + BreakListText(sorted) + " (in order, each once)");
  }
  return sorted;
}

namespace {

// FFmpeg's messages about the copy of a read-once input name the input as given.
template <typename Work>
auto NamingInput(const std::string& path, const std::string& name, Work work) {
  try {
    return work();
  } catch (const CliError& e) {
    std::string message = e.what();
    if (path == name) throw;
    for (size_t at = message.find(path); at != std::string::npos;
         at = message.find(path, at + name.size())) {
      message.replace(at, path.size(), name);
    }
    throw CliError(message);
  }
}

// A copy of what can be read only once, in the output directory, which claim makes
// ready first: the sound is converted (its loudness measured in a pass of its own)
// before the pictures are read. Pictures alone are read as they come, so a live
// stream is encoded while it plays.
std::unique_ptr<TempFile> CopyOfReadOnce(const EncodeOptions& o, ReadOnceInput& source,
                                         const std::string& input, const std::string& directory,
                                         const std::function<void()>& claim) {
  claim();
  if (!o.quiet) {
    PrintNote(stderr, "'" + input +
                          "' can be read only once; it is copied into a temporary file in '" +
                          directory + "' first");
  }
  Progress status(stderr, !o.quiet && !o.json && isatty(STDERR_FILENO), -1);
  auto copy = std::make_unique<TempFile>();
  const bool whole = source.CopyTo(directory, *copy, [&](int64_t bytes) {
    char line[96];
    std::snprintf(line, sizeof line, "copying '%s': %.1f MB",
                  input.size() < 40 ? input.c_str() : "the input",
                  static_cast<double>(bytes) / 1e6);
    status.Show(line);
  });
  status.Finish();
  if (!whole) throw CliError("interrupted");  // reported as the interrupt
  return copy;
}

// instead: how the user asked for no sound, if they did.
std::string StillWithoutSound(const std::string& input, const std::string& instead = "") {
  return "'" + input +
         "' is a single picture, shown for as long as its sound plays: give the sound with "
         "--audio FILE" +
         instead;
}

// claim makes the output directory ready (made, locked, checked for earlier tracks):
// called before anything is written into it.
EncodePlan PlanEncode(const EncodeOptions& o, FilterSession& session,
                      const std::function<void(const std::string&)>& claim) {
  if (o.settings_file) session.RunSettingsFile(*o.settings_file);
  const FilterSettings saved = session.Settings();
  EncodePlan plan;
  plan.directory = OutputDirectory(o, saved);
  // Everything that can be checked is, before the directory is made.
  plan.audio_file = o.audio_file;
  if (!plan.audio_file && !o.no_audio && !saved.audio_path.empty())
    plan.audio_file = saved.audio_path;
  const auto claim_directory = [&] { claim(plan.directory); };
  plan.source = o.input;
  const bool sound_from_input = !o.generated && !o.no_audio && !plan.audio_file;
  if (sound_from_input && IsDeviceFile(o.input)) {
    throw CliError("'" + o.input +
                   "' is a device, which can be read only once, but its sound and its pictures "
                   "are read one after the other: give the sound with --audio FILE, or use "
                   "--no-audio");
  }
  if (sound_from_input && IsReadOnce(o.input)) {
    auto input = std::make_unique<ReadOnceInput>(o.input);
    if (input->Soundless()) {
      // Without sound to read first, the pictures are read as they come: no copy on disk.
      plan.source = input->Relay();
      plan.relayed = std::move(input);
    } else {
      plan.input_copy = CopyOfReadOnce(o, *input, o.input, plan.directory, claim_directory);
      plan.source = plan.input_copy->path();
    }
  }
  plan.video = NamingInput(plan.source, o.input,
                           [&] { return VideoSource::Open(plan.source, o.pictures, o.generated); });
  if (plan.video->still() && o.no_audio) {
    throw CliError(StillWithoutSound(o.input, " instead of --no-audio"));
  }
  plan.break_frames = BreakFrames(o, *plan.video);
  if (plan.break_frames)
    plan.breaks = BreakListText(WithPeriodicBreaks(o, *plan.video, *plan.break_frames));
  else
    plan.breaks = saved.break_frames;

  // Far more than a disc holds is a mistake or a damaged header (a frame rate of
  // 5/13421773 fps claims 621 days), not something to write for hours.
  plan.expected = o.known_frames >= 0 ? o.known_frames : plan.video->estimated_frames();
  plan.disc_limit = o.disc_minutes * 60;
  const double far_disc_limit = plan.disc_limit * kDiscsTooMany;
  plan.far_records = static_cast<int64_t>(far_disc_limit * kDiscBytesPerSecond / kTrackRecordBytes);
  char far_text[96];
  std::snprintf(far_text, sizeof far_text, "more than %d times what a disc of %g minutes holds",
                kDiscsTooMany, o.disc_minutes);
  plan.far_text = far_text;
  if (plan.expected > plan.far_records) {
    throw CliError("'" + o.input + "' would take about " +
                   FormatDuration(DiscSeconds(plan.expected, 1)) + " of disc time by its header, " +
                   plan.far_text +
                   "; cut it shorter first, or raise --disc-minutes if that much is meant");
  }
  if (plan.audio_file && !o.no_audio) {
    plan.audio_source = *plan.audio_file;
    if (IsReadOnce(*plan.audio_file) && !IsDeviceFile(*plan.audio_file)) {
      ReadOnceInput sound(*plan.audio_file);
      plan.audio_copy = CopyOfReadOnce(o, sound, *plan.audio_file, plan.directory, claim_directory);
      plan.audio_source = plan.audio_copy->path();
    } else if (access(plan.audio_file->c_str(), R_OK) != 0) {
      throw CliError("cannot read the sound file '" + *plan.audio_file +
                     "': " + std::strerror(errno));
    }
  }
  return plan;
}

constexpr char kConvertedSound[] = "the converted sound";

// What the loudness measurement found and what was done about it, for the summary.
std::string LevelDescription(const AudioConversion& c, const SoundOptions& options) {
  std::string text = options.mono ? ", mixed to mono" : "";
  if (c.player_format) return text + ", already 8-bit 17640 Hz: samples kept as they are";
  if (std::isnan(options.loudness_target)) return text + ", at its own level";
  char part[160];
  if (!(c.input_loudness > -69)) return text + ", too quiet to measure, at its own level";
  std::snprintf(part, sizeof part, ", %.1f LUFS %s %.1f dB to %.1f LUFS%s", c.input_loudness,
                c.gain_db >= 0 ? "raised" : "lowered", std::fabs(c.gain_db),
                c.input_loudness + c.gain_db, c.limited ? ", peaks limited" : "");
  return text + part;
}

double SoundSeconds(uint64_t bytes) {
  return static_cast<double>(bytes) / (kTrackAudioRate * kTrackAudioChannels);
}

// The input's sound is read in passes of its own from its start. The picture source
// is let go meanwhile and opened again after, so that an MP4's index (tens of MB for
// a film of hours, which every reader of the file builds) is not held twice. One that
// can be read only once is kept.
AudioConversion ConvertInputSound(const EncodeOptions& o, EncodePlan& plan,
                                  const std::function<AudioConversion(double start)>& convert) {
  const double start = plan.video->video_start_seconds();
  if (IsReadOnce(plan.source)) return convert(start);
  plan.video.reset();
  AudioConversion converted = convert(start);
  if (converted.stopped) return converted;  // nothing is rendered
  plan.video = NamingInput(plan.source, o.input,
                           [&] { return VideoSource::Open(plan.source, o.pictures, o.generated); });
  return converted;
}

// An input without sound: silent tracks, said so.
AudioPlan WithoutSound(const EncodeOptions& o, const EncodePlan& plan, TempFile& temp) {
  if (plan.video->still()) throw CliError(StillWithoutSound(o.input));
  temp.Remove();
  AudioPlan audio;
  audio.description = "none (the input has no sound)";
  if (!o.quiet) {
    PrintNote(stderr, "'" + o.input + "' has no audio stream; the tracks will be silent");
  }
  return audio;
}

// The sound the filter reads: as given, converted from another file, converted from
// the input, or none. Nothing when Ctrl-C stopped the conversion.
std::optional<AudioPlan> PrepareSound(const EncodeOptions& o, EncodePlan& plan, TempFile& temp) {
  AudioPlan audio;
  if (o.no_audio) {
    audio.description = "none (--no-audio)";
    return audio;
  }
  if (plan.relayed != nullptr) return WithoutSound(o, plan, temp);
  if (plan.audio_file && IsTrackAudioWav(plan.audio_source)) {
    audio.path = plan.audio_source;
    audio.description = "'" + *plan.audio_file + "' as it is";
    std::error_code error;
    const auto bytes = std::filesystem::file_size(plan.audio_source, error);
    if (!error) audio.seconds = SoundSeconds(bytes);
    return audio;
  }
  // Converting the sound of a long film takes a while: say so on a terminal.
  Progress status(stderr, !o.quiet && !o.json && isatty(STDERR_FILENO), -1);
  const int64_t estimated = plan.video->estimated_frames();
  const double video_seconds =
      estimated > 0 ? static_cast<double>(estimated) / kFramesPerSecond : -1;
  // Two passes: the loudness is measured over the whole sound, then it is converted.
  auto stage = [&](const char* what) {
    return [&status, what, video_seconds](double seconds) {
      std::string line = std::string(what) + ": " + FormatDuration(seconds);
      if (video_seconds > 0) line += " of " + FormatDuration(video_seconds);
      status.Show(line);
    };
  };
  const auto progress = stage("converting the sound");
  const auto measuring = stage("measuring the loudness");
  // Sound past the last record that may be written is never heard.
  const double far_seconds = static_cast<double>(plan.far_records) / kPictureFramesPerSecond;
  temp.CreateUnnamed(plan.directory, kSoundPrefix, kSoundSuffix);
  SoundOptions sound = o.sound;
  // For the sound benchmark, which measures what the dither gains.
  if (const char* dither = std::getenv("TRACKLOOM_SOUND_DITHER");
      dither != nullptr && std::strcmp(dither, "none") == 0) {
    sound.dither = false;
  }
  AudioConversion converted;
  if (plan.audio_file) {
    converted = NamingInput(plan.audio_source, *plan.audio_file, [&] {
      return ConvertAudio(plan.audio_source, false, -1, far_seconds, sound, temp.path(),
                          kConvertedSound, progress, measuring);
    });
  } else if (!o.generated) {
    converted = ConvertInputSound(o, plan, [&](double start) {
      return NamingInput(plan.source, o.input, [&] {
        return ConvertAudio(plan.source, false, start, far_seconds, sound, temp.path(),
                            kConvertedSound, progress, measuring);
      });
    });
  } else if (!o.generated_sound.empty()) {
    converted = ConvertAudio(o.generated_sound, true, -1, far_seconds, sound, temp.path(),
                             kConvertedSound, progress, measuring);
  }
  status.Finish();
  if (converted.stopped) return std::nullopt;
  if (converted.has_audio) {
    audio.path = temp.path();
    audio.description =
        plan.audio_file ? "converted from '" + *plan.audio_file + "'" : "converted from the input";
    audio.description += LevelDescription(converted, o.sound);
    audio.seconds = SoundSeconds(converted.data_bytes);
    return audio;
  }
  if (plan.audio_file) {
    throw CliError("'" + *plan.audio_file + "' has no sound: " + converted.without_sound);
  }
  return WithoutSound(o, plan, temp);
}

// What the render left behind.
struct RenderOutcome {
  runner::RenderReport report;
  std::optional<std::string> source_failure;  // why the pictures ended early
  std::vector<TrackFileInfo> tracks;          // the ones this render wrote
  bool interrupted = false;
  bool warned_disc = false;  // the disc-time warning was given beforehand
  int64_t last_source_frame = -1;
  std::vector<int>
      breaks_past_the_end;           // of the command line's, when the input was read to its end
  int32_t tracks_opened = 0;         // the filter's count: the number of the last track it opened
  std::vector<std::string> removed;  // tracks of an earlier encode removed afterwards
};

void NoteReadingProblems(const EncodeOptions& o, const VideoSource& video, int64_t pictures,
                         bool interrupted) {
  if (o.quiet) return;
  if (!video.read_error().empty() && !interrupted) {
    PrintNote(stderr, "reading '" + o.input + "' stopped early (" + video.read_error() +
                          ") after " + std::to_string(pictures) + " pictures, " +
                          FormatDuration(static_cast<double>(pictures) / kPictureFramesPerSecond) +
                          " at 18 fps; the tracks end there");
  }
  const GapReport& gaps = video.gaps();
  if (gaps.count > 0) {
    PrintNote(stderr, "the pictures of '" + o.input + "' pause for up to " +
                          FormatDuration(gaps.longest_seconds) +
                          " with no sound playing (first at " +
                          FormatDuration(gaps.first_at_seconds) + " of the tracks); " +
                          std::to_string(gaps.count) + " such gap" +
                          (gaps.count == 1 ? " was" : "s were") + " cut to one frame");
  }
}

RenderOutcome RenderTracks(const EncodeOptions& o, EncodePlan& plan, const AudioPlan& audio,
                           FilterSession& session) {
  session.Configure({audio.path, plan.directory, plan.breaks});
  VideoSource& video = *plan.video;
  if (o.verbose) {
    PrintError(stderr, Format("picture %dx%d at %.3f fps through %s", video.input_width(),
                              video.input_height(), video.input_frame_rate(),
                              video.filter_chain().c_str()));
  }
  RenderOutcome outcome;
  video.set_sound_seconds(audio.seconds);
  if (video.still()) plan.expected = video.estimated_frames();
  outcome.warned_disc = o.length_planned;
  if (!o.length_planned && plan.expected > 0 && !FitsDisc(plan.expected, plan.disc_limit)) {
    PrintWarning(stderr, Format("about %s of disc time expected, more than a %g-minute disc holds",
                                DiscTimeText(plan.expected).c_str(), o.disc_minutes));
    outcome.warned_disc = true;
  }
  TrackFileSnapshot before = TrackFileSnapshot::Take(plan.directory);
  VideoFrameSource frames(
      video, plan.expected, plan.far_records,
      "the tracks reached " + FormatDuration(DiscSeconds(plan.far_records, 1)) + " of disc time, " +
          plan.far_text +
          ", and the encode stopped there; raise --disc-minutes if that much is meant");
  Progress progress(stderr, !o.quiet && !o.json && isatty(STDERR_FILENO), plan.expected);
  runner::RenderOptions render_options;
  render_options.on_frame = [&](const runner::RenderProgress& p) {
    progress.Update(p.frames_done);
    return !StopRequested();
  };
  outcome.report = session.instance().Render(frames, render_options);
  progress.Finish();
  outcome.interrupted = StopRequested();
  outcome.source_failure = frames.failure();
  outcome.last_source_frame = frames.last_source_frame();
  if (plan.break_frames && !outcome.interrupted && !outcome.source_failure && outcome.report.ok) {
    // The breaks of --break-every stop at the end by design; the given ones are named.
    for (int f : *plan.break_frames) {
      if (f > outcome.last_source_frame) outcome.breaks_past_the_end.push_back(f);
    }
  }
  NoteReadingProblems(o, video, outcome.report.frames_run, outcome.interrupted);
  outcome.tracks_opened = session.TracksOpened();
  // A record the disk could not take is taken back by the filter itself, so the
  // tracks on disk are whole files here.
  outcome.tracks = before.WrittenSince(plan.directory);
  return outcome;
}

// What a failure left on disk, for the end of its message. Reads the tracks' headers,
// so only a failed encode asks.
std::string WrittenSoFar(const RenderOutcome& r) {
  std::string complete =
      r.tracks.empty() ? "; no track was written" : "; the tracks written so far are complete";
  for (const TrackFileInfo& t : r.tracks) {
    if (!t.finished()) complete = "; '" + t.path + "' may not be complete";
  }
  return complete;
}

// Why the encode failed, in the user's terms; empty when it did not. The filter's own
// message comes first, as it stands; then which file, and the system's reason.
std::string ExplainFailure(const EncodeOptions& o, const std::string& directory,
                           const RenderOutcome& r) {
  if (!r.report.errors.empty()) {
    const std::string& message = r.report.errors.front();
    switch (LastRenderFailure()) {
      case RenderFailure::kCreateTrack: {
        const std::string path = directory + "/" + TrackFileName(r.tracks_opened + 1);
        return message + ": cannot write '" + path +
               "': " + DescribeWriteError(path, WaveFile::LastError()) + WrittenSoFar(r);
      }
      case RenderFailure::kOpenSound:
        return message + ": cannot read the sound file: " + DescribeError(WaveFile::LastError());
      default:
        return message;
    }
  }
  if (r.report.failed_frame) {
    const std::string path = directory + "/" + TrackFileName(r.tracks_opened);
    return "writing frame " + std::to_string(*r.report.failed_frame) + " to '" + path +
           "' failed: " + WriteFailureReason() + WrittenSoFar(r);
  }
  if (r.report.end_result == 1 && r.tracks_opened > 0) {
    const std::string path = directory + "/" + TrackFileName(r.tracks_opened);
    return "finishing '" + path + "' failed: " + WriteFailureReason() + "; it may not be complete";
  }
  if (r.source_failure) return *r.source_failure + WrittenSoFar(r);
  if (!r.report.ok && !r.interrupted)
    return "the render ended with a failure the filter did not explain";
  if (r.tracks.empty() && !r.interrupted) {
    // Output frame 0 is never written: a track needs at least two pictures.
    if (r.report.frames_run == 0) return "no picture of '" + o.input + "' could be decoded";
    return "'" + o.input + "' is too short: it gave " + Count(r.report.frames_run, "picture") +
           " at 18 fps, and a track needs at least 2";
  }
  return "";
}

struct Totals {
  int64_t records = 0;
  double disc_seconds = 0;  // of the files, lead-ins included
  double video_seconds() const { return static_cast<double>(records) / kPictureFramesPerSecond; }
};

void PrintJsonSummary(const EncodeOptions& o, const EncodePlan& plan, const AudioPlan& audio,
                      const RenderOutcome& r, const Totals& totals, const std::string& failure) {
  JsonWriter json(stdout);
  json.BeginObject().Path("input", o.input).Path("output_directory", plan.directory);
  json.Key("audio")
      .String(audio.description)
      .Key("filter_chain")
      .String(plan.video->filter_chain());
  json.Key("picture").String(plan.video->picture_summary());
  if (!plan.video->stream_summary().empty())
    json.Key("video_stream").String(plan.video->stream_summary());
  json.Key("tracks").BeginArray();
  for (const TrackFileInfo& t : r.tracks) {
    json.BeginObject().Path("file", t.path).Key("records").Integer(t.records);
    json.Key("video_seconds")
        .Fixed(t.video_seconds(), 3)
        .Key("disc_seconds")
        .Fixed(t.disc_seconds(), 3);
    json.EndObject();
  }
  json.EndArray().Key("records").Integer(totals.records);
  json.Key("video_seconds").Fixed(totals.video_seconds(), 3);
  json.Key("disc_seconds")
      .Fixed(RecordsDiscSeconds(totals.records), 3)
      .Key("disc_limit_seconds")
      .Fixed(plan.disc_limit, 3);
  json.Key("breaks_past_the_end").BeginArray();
  for (int f : r.breaks_past_the_end) json.Integer(f);
  json.EndArray();
  json.Key("over_disc_limit")
      .Bool(!FitsDisc(totals.records, plan.disc_limit))
      .Key("interrupted")
      .Bool(r.interrupted);
  json.Key("ok").Bool(failure.empty() && !r.interrupted).Key("removed").BeginArray();
  for (const std::string& name : r.removed) json.String(name);
  json.EndArray();
  if (!failure.empty()) json.Key("error").String(failure);
  json.EndObject();
  std::fputc('\n', stdout);
}

void PrintTextSummary(const EncodeOptions& o, const EncodePlan& plan, const AudioPlan& audio,
                      const RenderOutcome& r, const Totals& totals, bool failed) {
  const std::vector<TrackFileInfo>& tracks = r.tracks;
  const char* outcome = failed          ? "Failed after writing"
                        : r.interrupted ? "Interrupted after writing"
                                        : "Wrote";
  std::printf("%s %s in '%s' (sound: %s)%s\n", outcome,
              Count(static_cast<int64_t>(tracks.size()), "track").c_str(),
              Printable(plan.directory).c_str(), Printable(audio.description).c_str(),
              tracks.empty() ? "." : ":");
  auto line = [](const std::string& name, int64_t records, double video, double disc) {
    std::printf("  %-18s %15s  %10s video  %10s on disc\n", name.c_str(),
                Count(records, "record").c_str(), FormatDuration(video, 1).c_str(),
                FormatDuration(disc, 1).c_str());
  };
  for (const TrackFileInfo& t : tracks)
    line(t.name, t.records, t.video_seconds(), t.disc_seconds());
  if (tracks.size() > 1) line("total", totals.records, totals.video_seconds(), totals.disc_seconds);
  if (!r.breaks_past_the_end.empty()) {
    std::printf("Not used: break%s at frame%s %s, past the last frame of '%s' (%lld).\n",
                r.breaks_past_the_end.size() == 1 ? "" : "s",
                r.breaks_past_the_end.size() == 1 ? "" : "s",
                BreakListText(r.breaks_past_the_end).c_str(), Printable(o.input).c_str(),
                static_cast<long long>(r.last_source_frame));
  }
  if (!plan.video->stream_summary().empty())
    std::printf("Video: %s.\n", plan.video->stream_summary().c_str());
  std::printf("Picture: %s.\n", plan.video->picture_summary().c_str());
  std::printf("Disc time: %s of %g minute%s.\n", DiscTimeText(totals.records).c_str(),
              o.disc_minutes, o.disc_minutes == 1 ? "" : "s");
  if (!r.removed.empty()) {
    std::printf("Removed %zu track%s of an earlier encode:", r.removed.size(),
                r.removed.size() == 1 ? "" : "s");
    for (const std::string& name : r.removed) std::printf(" %s", name.c_str());
    std::printf("\n");
  }
}

// The failure or the interrupt, then the summary, and the exit status they give.
int Report(const EncodeOptions& o, const EncodePlan& plan, const AudioPlan& audio,
           const RenderOutcome& r, const std::string& failure) {
  Totals totals;
  for (const TrackFileInfo& t : r.tracks) {
    totals.records += t.records;
    totals.disc_seconds += t.disc_seconds();
  }
  if (!FitsDisc(totals.records, plan.disc_limit) && !r.warned_disc) {
    PrintWarning(stderr, Format("the tracks take %s of disc time, more than a %g-minute disc holds",
                                DiscTimeText(totals.records).c_str(), o.disc_minutes));
  }
  if (!failure.empty()) PrintError(stderr, failure);
  if (failure.empty() && r.interrupted && !o.quiet) {
    PrintError(stderr, "interrupted; the tracks written so far are complete");
  }
  std::fflush(stderr);
  if (o.json) {
    PrintJsonSummary(o, plan, audio, r, totals, failure);
  } else if (!o.quiet) {
    PrintTextSummary(o, plan, audio, r, totals, !failure.empty());
  }
  std::fflush(stdout);
  if (!failure.empty()) return 1;
  if (r.interrupted) return InterruptedExitStatus();
  return 0;
}

// A directory that already holds tracks is refused without --overwrite: the tracks of
// two films would otherwise end up on one disc. True when --overwrite is to replace
// files, which happens only once the new set is complete.
bool CheckForEarlierTracks(const EncodeOptions& o, const std::string& directory) {
  const std::vector<int> existing = TrackNumbersIn(directory);
  if (!existing.empty() && !o.overwrite) {
    throw CliError(
        "'" + directory + "' already holds " + DescribeTrackNumbers(existing) +
        " from an earlier encode; give --overwrite to replace them, or give another directory");
  }
  // Links and directories under track names are refused as the filter meets them;
  // files are kept until the new set can replace them.
  return std::any_of(existing.begin(), existing.end(), [&](int n) {
    std::error_code error;
    const std::string path = directory + "/" + TrackFileName(n);
    return std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error));
  });
}

// What a killed encode left in directory goes before this one writes there.
void ClearLeftovers(const EncodeOptions& o, const std::string& directory) {
  const std::vector<std::string> removed = RemoveLeftovers(directory);
  if (removed.empty() || o.quiet) return;
  std::string names;
  for (const std::string& name : removed) names += (names.empty() ? "" : ", ") + name;
  PrintNote(stderr, "removed " + names + " in '" + directory +
                        "', left by an earlier encode that was stopped before it could clear up");
}

// The sound file may be cut short by someone else while the encode reads it (the
// converted one too, through /proc or under its name): the tracks are then silent
// from where it ended. Empty when it was not.
std::string SoundCutShort(const std::string& file, const AudioPlan& audio,
                          const struct stat& before, const RenderOutcome& r) {
  struct stat after {};
  if (stat(audio.path.c_str(), &after) != 0 || after.st_size >= before.st_size) return "";
  const double ended =
      SoundSeconds(static_cast<uint64_t>(std::max<off_t>(after.st_size - kWavHeaderSize, 0)));
  const double rendered = static_cast<double>(r.report.frames_run) / kPictureFramesPerSecond;
  if (ended >= rendered || ended >= audio.seconds) return "";
  return file + " was cut short while encoding: it ended at " + FormatDuration(ended) +
         "; the rest is silent";
}

// What the inputs of one run share.
struct EncodeRun {
  std::vector<std::string> written;  // the tracks' paths, as they end up
  // The first input takes the lock on the output directory, held until the run ends.
  std::unique_ptr<OutputDirectoryLock> lock;
  // With --overwrite of earlier tracks, the new set gathers here; it replaces them only
  // once it is complete, so a failure leaves the earlier set as it was.
  std::unique_ptr<StagingDirectory> holding;
  std::string directory;  // the output directory, once claimed
  bool last_input = false;
};

// The end of a failure's message while earlier tracks wait to be replaced: the new
// ones are dropped with the holding directory, and the earlier set stays whole.
std::string KeptEarlier(const EncodeRun& run) {
  if (run.holding == nullptr) return "";
  return "; the earlier tracks in '" + run.directory +
         "' are kept as they were (--overwrite replaces them only with a complete new set)";
}

// A stop before an input's render began still leaves the inputs before it: a whole
// set, only shorter, which replaces the earlier one.
void KeepStoppedSet(EncodeRun& run) {
  if (run.holding == nullptr || run.written.empty()) return;
  try {
    ReplaceTracks(run.holding->path(), run.directory, static_cast<int>(run.written.size()));
  } catch (const CliError& e) {
    PrintError(stderr, e.what());
  }
  run.holding.reset();
}

// The new set replaces the earlier tracks when the run ends well (or is stopped,
// which finishes the open track: a shorter set, but a whole one); after a failure the
// earlier set stays and the failure says so.
void SettleEarlierTracks(EncodeRun& run, const std::string& directory, RenderOutcome& outcome,
                         std::string& failure) {
  if (run.holding == nullptr) return;
  if (failure.empty() && (run.last_input || outcome.interrupted)) {
    if (run.written.empty()) return;  // stopped before a track: nothing replaces them
    try {
      outcome.removed =
          ReplaceTracks(run.holding->path(), directory, static_cast<int>(run.written.size()));
      run.holding.reset();
      return;
    } catch (const CliError& e) {
      failure = e.what();
    }
  }
  if (failure.empty()) return;
  failure += KeptEarlier(run);
  outcome.tracks.clear();
}

// Encodes o.input; its tracks are numbered from first_number and their paths added to
// run.written.
int EncodeWith(const EncodeOptions& o, TempFile& temp, int first_number, EncodeRun& run) {
  FilterSession session;
  const auto claim = [&](const std::string& directory) {
    if (run.lock != nullptr) return;
    PrepareOutputDirectory(directory);
    CheckNameLimits(o, directory);
    // A second encode into the same directory would mix its tracks with these.
    run.lock = std::make_unique<OutputDirectoryLock>(directory);
    run.directory = directory;
    ClearLeftovers(o, directory);
    if (CheckForEarlierTracks(o, directory))
      run.holding = std::make_unique<StagingDirectory>(directory);
  };
  EncodePlan plan = PlanEncode(o, session, claim);
  claim(plan.directory);
  const std::string directory = plan.directory;
  // Where this input's tracks gather: in place, or with the rest of a new set.
  const std::string gathering = run.holding != nullptr ? run.holding->path() : directory;
  // A later input's tracks are written as "VDN Track 01.wav" onwards in a directory
  // of their own, then take their numbers.
  std::optional<StagingDirectory> staging;
  if (first_number > 1) staging.emplace(directory);
  plan.directory = staging ? staging->path() : gathering;
  const std::optional<AudioPlan> audio = PrepareSound(o, plan, temp);
  if (!audio) return Interrupted(o);
  if (audio->path.size() > kMaxPathLength) {
    // Only a sound file given by name can be: the directory's own were checked.
    throw CliError("the sound file path is too long for the filter (at most " +
                   std::to_string(kMaxPathLength) + " characters): " + audio->path);
  }
  struct stat sound_before {};
  const bool sound_watched = !audio->path.empty() && stat(audio->path.c_str(), &sound_before) == 0;
  const std::string sound_file = audio->path == plan.audio_file.value_or("")
                                     ? "the sound file '" + audio->path + "'"
                                     : "the sound's temporary file in '" + directory + "'";
  RenderOutcome outcome = RenderTracks(o, plan, *audio, session);
  std::string failure = ExplainFailure(o, plan.directory, outcome);
  if (failure.empty() && sound_watched)
    failure = SoundCutShort(sound_file, *audio, sound_before, outcome);
  temp.Remove();
  if (staging) {
    NumberOn(outcome.tracks, gathering, directory, first_number);
  } else {
    for (TrackFileInfo& t : outcome.tracks) t.path = directory + "/" + t.name;
  }
  plan.directory = directory;
  for (const TrackFileInfo& t : outcome.tracks) run.written.push_back(t.path);
  SettleEarlierTracks(run, directory, outcome, failure);
  return Report(o, plan, *audio, outcome, failure);
}

// Encodes one input; the exit status.
int EncodeOne(const EncodeOptions& o, int first_number, EncodeRun& run) {
  TempFile temp;
  // A failure while a stop was asked for is most likely the stop itself (blocking
  // reads give up once it is asked), so it is reported as the interrupt.
  auto fail = [&](const char* message) {
    if (StopRequested()) return Interrupted(o);
    PrintError(stderr, message + KeptEarlier(run));
    return 1;
  };
  int status;
  try {
    status = EncodeWith(o, temp, first_number, run);
  } catch (const BadOptionError& e) {
    status = BadOption(e.what());
  } catch (const CliError& e) {
    status = fail(e.what());
  } catch (const runner::Error& e) {
    status = fail(e.what());
  } catch (const std::bad_alloc&) {
    status = fail("out of memory");
  }
  temp.Remove();
  if (status != 0 && StopRequested()) KeepStoppedSet(run);
  return status;
}

// Weighs the run's disc time (CheckRunDiscTime) with failures reported as EncodeOne
// reports them; the exit status.
int CheckRun(std::vector<EncodeOptions>& runs, const EncodeOptions& o) {
  try {
    CheckRunDiscTime(runs, o);
    return 0;
  } catch (const BadOptionError& e) {
    return BadOption(e.what());
  } catch (const CliError& e) {
    if (StopRequested()) return Interrupted(o);
    PrintError(stderr, e.what());
    return 1;
  } catch (const runner::Error& e) {
    PrintError(stderr, e.what());
    return 1;
  } catch (const std::bad_alloc&) {
    PrintError(stderr, "out of memory");
    return 1;
  }
}

}  // namespace

int Encode(const EncodeOptions& o) {
  InstallInterruptHandlers();
  av_log_set_level(o.verbose ? AV_LOG_WARNING : AV_LOG_QUIET);
  if (!o.disc.name.empty()) {
    // Found out before the encode, not after it.
    try {
      CheckFirstTrack(o.disc.first);
    } catch (const CliError& e) {
      PrintError(stderr, e.what());
      return 1;
    }
  }
  const std::vector<std::string> inputs =
      o.inputs.empty() ? std::vector<std::string>{o.input} : o.inputs;
  // A missing file among several is found out before the first is encoded.
  for (const std::string& input : inputs) {
    if (inputs.size() > 1 && input.find(':') == std::string::npos && !IsReadOnce(input) &&
        access(input.c_str(), R_OK) != 0) {
      PrintError(stderr, "cannot read '" + input + "': " + std::strerror(errno));
      return 1;
    }
  }
  std::vector<EncodeOptions> runs;
  for (const std::string& input : inputs) {
    runs.push_back(o);
    runs.back().input = input;
  }
  if (const int status = CheckRun(runs, o); status != 0) return status;
  EncodeRun run;
  for (size_t i = 0; i < runs.size(); ++i) {
    run.last_input = i + 1 == runs.size();
    const int status = EncodeOne(runs[i], static_cast<int>(run.written.size()) + 1, run);
    if (status != 0) return status;  // later inputs are not encoded after a failure or Ctrl-C
  }
  if (runs.size() > 1 && !o.quiet && !o.json) PrintRunTotal(o, runs.size(), run.written);
  if (o.disc.name.empty()) return 0;
  return MakeDisc(EncodeDiscOptions(o, run.written), stdout, stderr);
}

int RunEncode(int argc, char** argv) {
  EncodeOptions options;
  if (const std::optional<int> status = ParseEncodeOptions(argc, argv, options)) return *status;
  return Encode(options);
}

}  // namespace trackloom::cli

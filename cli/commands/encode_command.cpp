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

#include "cli/ffmpeg/audio_convert.h"
#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/commands/filter_session.h"
#include "cli/common/interrupt.h"
#include "cli/common/progress.h"
#include "cli/commands/subcommands.h"
#include "cli/common/output_file.h"
#include "cli/common/temp_file.h"
#include "cli/tracks/track_files.h"
#include "core/wave_file.h"

extern "C" {
#include <libavutil/log.h>
}

namespace trackloom::cli {
namespace {

constexpr char kEncodeHelp[] =
    "Usage: trackloom encode INPUT -o DIR [options]\n"
    "\n"
    "Turns any video FFmpeg can read into track files for VideoNow Color players:\n"
    "\"VDN Track 01.wav\", \"VDN Track 02.wav\", ... in DIR. The picture is scaled to\n"
    "144 x 80 and converted to 18 frames per second; the sound is resampled to 8-bit\n"
    "stereo at 17640 Hz. A DIR that already holds track files is refused unless\n"
    "--overwrite is given, and so is a DIR another encode is writing into.\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR        where the tracks go (created if missing)\n"
    "  --overwrite             replace the track files already in DIR; those numbered\n"
    "                          past the new last track are removed at the end\n"
    "  --fit MODE              how the picture fills 144 x 80:\n"
    "                            letterbox  whole picture, black bars (default)\n"
    "                            crop       fill the frame, cut the edges\n"
    "                            stretch    fill the frame, distort the picture\n"
    "  --audio FILE            take the sound from FILE instead of INPUT; a WAV that\n"
    "                          already is 8-bit stereo 17640 Hz is used as it is\n"
    "  --no-audio              silent tracks\n"
    "  --break LIST            start a new track at these source frames, e.g.\n"
    "                          --break 100,250 (frames of INPUT at its own rate)\n"
    "  --break-at TIMES        start a new track at these times of INPUT, e.g.\n"
    "                          --break-at 1:30,3:05.5 (seconds, M:SS or H:MM:SS)\n"
    "  --settings FILE         run the Config(...) lines of FILE first (the filter's\n"
    "                          saved settings, e.g. from 'trackloom configure');\n"
    "                          options given here override them\n"
    "  --disc-minutes N        warn when the tracks take more than N minutes of disc\n"
    "                          time (default 80, a CD-R); stop at four times that\n"
    "  -q, --quiet             no progress, notes or summary; errors only\n"
    "  --json                  print a machine-readable summary on stdout\n"
    "  -v, --verbose           show FFmpeg's own warnings\n"
    "  -h, --help              this help\n"
    "\n"
    "Each frame record takes 1/9 s of disc time (a track plays at double CD speed),\n"
    "so an 80-minute disc holds 40 minutes of video.\n"
    "Ctrl-C stops after the current frame; the open track is finished and usable.\n"
    "A track left unfinished by a crash or power cut is mended by 'trackloom repair'.\n"
    "Exit status: 0 done, 1 failed (one line on stderr says why), 2 bad options,\n"
    "130 interrupted.\n"
    "\n"
    "Examples:\n"
    "  trackloom encode film.mp4 -o tracks\n"
    "  trackloom encode film.mkv -o tracks --fit crop --break-at 10:00,20:00\n"
    "  trackloom encode clip.mov -o tracks --audio music.flac\n";

int BadOption(const std::string& message) { return UsageError(stderr, "encode", message); }

// "m:ss.t" for summaries.
std::string FormatSecondsTenths(double seconds) {
  if (!(seconds > 0)) seconds = 0;
  const auto tenths = static_cast<long long>(std::llround(seconds * 10));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%lld", tenths / 600, tenths / 10 % 60, tenths % 10);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

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
    return frame;
  }
  const std::optional<std::string>& failure() const { return failure_; }

 private:
  VideoSource& video_;
  int64_t total_;
  int64_t limit_;
  std::string too_long_;
  int64_t delivered_ = 0;
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
    throw CliError("cannot write to the output directory '" + directory + "': " + std::strerror(errno));
  }
}

std::string WriteFailureReason(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && info.st_size + kTrackRecordBytes > kTrackLengthLimit) {
    return "the track reached the 4 GiB limit of a WAV file; add a break earlier";
  }
  return DescribeError(WaveFile::LastError());
}

// "a track file (VDN Track 01.wav)" or "5 track files (VDN Track 01.wav to VDN Track 05.wav)".
std::string DescribeTrackNumbers(const std::vector<int>& numbers) {
  if (numbers.size() == 1) return "a track file (" + TrackFileName(numbers.front()) + ")";
  return std::to_string(numbers.size()) + " track files (" + TrackFileName(numbers.front()) + " to " +
         TrackFileName(numbers.back()) + ")";
}

// A pipe, a terminal or standard input: what is read from it is gone.
bool IsReadOnce(const std::string& input) {
  if (input == "-" || input.rfind("pipe:", 0) == 0 || input.rfind("fd:", 0) == 0) return true;
  struct stat st {};
  return stat(input.c_str(), &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
}

struct AudioPlan {
  std::string path;        // what the filter reads; empty: silent
  std::string description; // for the summary
  double seconds = 0;       // how long it plays, where known
};

}  // namespace

bool ParseTime(const std::string& text, double& seconds) {
  if (text.empty()) return false;
  double total = 0;
  size_t start = 0;
  int parts = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    const std::string part = text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    const bool last = colon == std::string::npos;
    if (part.empty() || ++parts > 3) return false;
    size_t digits = 0;
    bool point = false;
    for (char c : part) {
      if (c >= '0' && c <= '9') {
        ++digits;
      } else if (c == '.' && last && !point) {
        point = true;
      } else {
        return false;
      }
    }
    if (digits == 0) return false;
    const double value = std::strtod(part.c_str(), nullptr);
    // Minutes and seconds after a colon count up to 59 as on a clock.
    if (parts > 1 && value >= 60) return false;
    total = total * 60 + value;
    if (last) break;
    start = colon + 1;
  }
  seconds = total;
  return true;
}

bool IsBreakList(const std::string& text, int& count) {
  count = 0;
  size_t i = 0;
  bool any = false;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ',' || c == ';' || c == ' ' || c == '\t') {
      ++i;
      continue;
    }
    if (c == '+' || c == '-') ++i;
    size_t digits = 0;
    bool nonzero = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
      nonzero = nonzero || text[i] != '0';
      ++i;
      ++digits;
    }
    if (digits == 0) return false;
    if (i < text.size() && text[i] != ',' && text[i] != ';' && text[i] != ' ' && text[i] != '\t') return false;
    if (nonzero) ++count;  // the filter passes over 0
    any = true;
  }
  return any;
}

int64_t FrameAtTime(double seconds, double frame_rate) {
  // The small allowance keeps a time given to the frame (1.5 s at 30 fps) on that
  // frame despite binary fractions.
  return static_cast<int64_t>(std::floor(seconds * frame_rate + 1e-6));
}

namespace {

std::string SetBreakTimes(const std::string& value, std::vector<double>& times) {
  size_t start = 0;
  while (start <= value.size()) {
    size_t comma = value.find(',', start);
    if (comma == std::string::npos) comma = value.size();
    double seconds = 0;
    const std::string item = value.substr(start, comma - start);
    if (!ParseTime(item, seconds)) return "--break-at takes times like 1:30 or 95.5, not '" + item + "'";
    times.push_back(seconds);
    start = comma + 1;
  }
  return "";
}

std::string SetDiscMinutes(const std::string& value, double& minutes) {
  char* end = nullptr;
  const double m = std::strtod(value.c_str(), &end);
  if (*end != '\0' || !(m > 0) || m > 100000) {
    return "--disc-minutes takes a positive number of minutes, not '" + value + "'";
  }
  minutes = m;
  return "";
}

std::vector<Option> EncodeOptionTable(EncodeOptions& o) {
  auto flag = [](bool& field) {
    return [&field](const std::string&) {
      field = true;
      return std::string();
    };
  };
  auto text = [](std::optional<std::string>& field) {
    return [&field](const std::string& value) {
      field = value;
      return std::string();
    };
  };
  return {
      {"output", 'o', "a directory", text(o.output_directory)},
      {"overwrite", 0, nullptr, flag(o.overwrite)},
      {"fit", 0, "letterbox, crop or stretch",
       [&o](const std::string& value) {
         return ParseFit(value, o.fit) ? "" : "--fit takes letterbox, crop or stretch, not '" + value + "'";
       }},
      {"audio", 0, "a file", text(o.audio_file)},
      {"no-audio", 0, nullptr, flag(o.no_audio)},
      {"break", 0, "frame numbers, e.g. --break 100,250",
       [&o](const std::string& value) {
         int count = 0;
         if (!IsBreakList(value, count)) return "--break takes frame numbers like 100,250, not '" + value + "'";
         o.break_lists.push_back(value);
         return std::string();
       }},
      {"break-at", 0, "times, e.g. --break-at 1:30,3:05.5",
       [&o](const std::string& value) { return SetBreakTimes(value, o.break_times); }},
      {"settings", 0, "a file", text(o.settings_file)},
      {"disc-minutes", 0, "a number of minutes",
       [&o](const std::string& value) { return SetDiscMinutes(value, o.disc_minutes); }},
      {"quiet", 'q', nullptr, flag(o.quiet)},
      {"json", 0, nullptr, flag(o.json)},
      {"verbose", 'v', nullptr, flag(o.verbose)},
  };
}

}  // namespace

std::optional<int> ParseEncodeOptions(int argc, char** argv, EncodeOptions& o) {
  const CommandLine line = ReadCommandLine(argc, argv, EncodeOptionTable(o), kEncodeHelp, stdout, stderr);
  if (line.exit_status) return line.exit_status;
  if (line.operands.empty()) return BadOption("no input video given");
  if (line.operands.size() > 1) {
    return BadOption("only one input video, but '" + line.operands[0] + "' and '" + line.operands[1] +
                     "' were given");
  }
  o.input = line.operands[0];
  if (o.no_audio && o.audio_file) return BadOption("--audio and --no-audio contradict each other");
  return std::nullopt;
}

namespace {

// Ctrl-C before the render began: nothing was written.
int Interrupted(const EncodeOptions& o) {
  if (!o.quiet) std::fprintf(stderr, "trackloom: interrupted before any track was written\n");
  return InterruptedExitStatus();
}

int EncodeWith(const EncodeOptions& o, TempFile& temp) {
  const bool chatty = !o.quiet && !o.json;
  FilterSession host;
  if (o.settings_file) host.RunSettingsFile(*o.settings_file);
  const FilterSettings saved = host.Settings();

  std::string directory = o.output_directory.value_or(saved.output_directory);
  if (directory.empty()) throw CliError("no output directory: give one with -o DIR");
  // The filter drops one trailing separator itself; all of them go here, so the
  // names in the summary read cleanly.
  while (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  // The filter names its tracks "<dir>/VDN Track NN.wav" in a 260-byte field.
  if (directory.size() > kMaxOutputDirectoryLength) {
    throw CliError("the output directory path is too long for the filter (at most " +
                   std::to_string(kMaxOutputDirectoryLength) + " characters): " + directory);
  }
  // Everything that can be checked is, before the directory is made.
  std::optional<std::string> audio_file = o.audio_file;
  if (!audio_file && !o.no_audio && !saved.audio_path.empty()) audio_file = saved.audio_path;
  if (!o.generated && !o.no_audio && !audio_file && IsReadOnce(o.input)) {
    // The sound is converted in a pass of its own before the pictures are read.
    throw CliError("'" + o.input + "' can be read only once, but its sound and its pictures are read " +
                   "one after the other: give the sound with --audio FILE, or use --no-audio");
  }
  std::unique_ptr<VideoSource> video = VideoSource::Open(o.input, o.fit, o.generated);

  std::string breaks = saved.break_frames;
  if (!o.break_lists.empty() || !o.break_times.empty()) {
    breaks.clear();
    int count = 0;
    for (const std::string& list : o.break_lists) {
      int n = 0;
      IsBreakList(list, n);
      count += n;
      breaks += (breaks.empty() ? "" : ",") + list;
    }
    for (double seconds : o.break_times) {
      const int64_t frame = FrameAtTime(seconds, video->input_frame_rate());
      if (frame > INT32_MAX) throw CliError("--break-at " + FormatDuration(seconds) + " is too far in");
      if (frame != 0) ++count;
      breaks += (breaks.empty() ? "" : ",") + std::to_string(frame);
    }
    if (count > kMaxBreaks) {
      throw CliError("at most " + std::to_string(kMaxBreaks) + " break frames, but " +
                     std::to_string(count) + " were given");
    }
  }

  // Far more than a disc holds is a mistake or a damaged header (a frame rate of
  // 5/13421773 fps claims 621 days), not something to write for hours.
  const int64_t expected = o.known_frames >= 0 ? o.known_frames : video->estimated_frames();
  const double disc_limit = o.disc_minutes * 60;
  const double far_disc_limit = disc_limit * kDiscsTooMany;
  const int64_t far_records = static_cast<int64_t>(far_disc_limit * kDiscBytesPerSecond / kTrackRecordBytes);
  char far_text[96];
  std::snprintf(far_text, sizeof far_text, "more than %d times what a disc of %g minutes holds", kDiscsTooMany,
                o.disc_minutes);
  if (expected > far_records) {
    throw CliError("'" + o.input + "' would take about " + FormatDuration(DiscSeconds(expected, 1)) +
                   " of disc time by its header, " + far_text +
                   "; cut it shorter first, or raise --disc-minutes if that much is meant");
  }

  // The sound: as given, converted from another file, converted from the input, or none.
  AudioPlan audio;
  if (audio_file && !o.no_audio && access(audio_file->c_str(), R_OK) != 0) {
    throw CliError("cannot read the sound file '" + *audio_file + "': " + std::strerror(errno));
  }
  PrepareOutputDirectory(directory);
  // Held until the command ends: a second encode into the same directory would mix
  // its tracks with these.
  const OutputDirectoryLock lock(directory);
  const std::vector<int> existing = TrackNumbersIn(directory);
  if (!existing.empty() && !o.overwrite) {
    throw CliError("'" + directory + "' already holds " + DescribeTrackNumbers(existing) +
                   " from an earlier encode; give --overwrite to replace them, or give another directory");
  }
  // Converting the sound of a long film takes a while: say so on a terminal.
  const bool on_terminal = chatty && isatty(STDERR_FILENO);
  Progress sound_status(stderr, on_terminal, -1);
  const double video_seconds = video->estimated_frames() > 0
                                   ? static_cast<double>(video->estimated_frames()) / kFramesPerSecond
                                   : -1;
  auto sound_progress = [&](double seconds) {
    std::string line = "converting the sound: " + FormatDuration(seconds);
    if (video_seconds > 0) line += " of " + FormatDuration(video_seconds);
    sound_status.Show(line);
  };
  // Sound past the last record that may be written is never heard.
  const double far_seconds = static_cast<double>(far_records) / kPictureFramesPerSecond;
  if (o.no_audio) {
    audio.description = "none (--no-audio)";
  } else if (audio_file) {
    if (IsTrackAudioWav(*audio_file)) {
      audio.path = *audio_file;
      audio.description = "'" + *audio_file + "' as it is";
      std::error_code error;
      const auto bytes = std::filesystem::file_size(*audio_file, error);
      if (!error) audio.seconds = static_cast<double>(bytes) / (kTrackAudioRate * kTrackAudioChannels);
    } else {
      temp.Create(directory, ".trackloom-sound-", ".wav");
      const AudioConversion converted = ConvertAudio(*audio_file, false, -1, far_seconds, temp.path(), "the converted sound", sound_progress);
      sound_status.Finish();
      if (converted.stopped) return Interrupted(o);
      if (!converted.has_audio) throw CliError("'" + *audio_file + "' has no audio stream");
      audio.path = temp.path();
      audio.description = "converted from '" + *audio_file + "'";
      audio.seconds = static_cast<double>(converted.data_bytes) / (kTrackAudioRate * kTrackAudioChannels);
    }
  } else {
    temp.Create(directory, ".trackloom-sound-", ".wav");
    AudioConversion converted;
    if (!o.generated) {
      converted = ConvertAudio(o.input, false, video->video_start_seconds(), far_seconds, temp.path(), "the converted sound",
                               sound_progress);
    } else if (!o.generated_sound.empty()) {
      converted = ConvertAudio(o.generated_sound, true, -1, far_seconds, temp.path(), "the converted sound", sound_progress);
    }
    sound_status.Finish();
    if (converted.stopped) return Interrupted(o);
    if (converted.has_audio) {
      audio.path = temp.path();
      audio.description = "converted from the input";
      audio.seconds = static_cast<double>(converted.data_bytes) / (kTrackAudioRate * kTrackAudioChannels);
    } else {
      temp.Remove();
      audio.description = "none (the input has no sound)";
      if (!o.quiet) {
        std::fprintf(stderr, "trackloom: note: '%s' has no audio stream; the tracks will be silent\n",
                     o.input.c_str());
      }
    }
  }
  // Sound used as it is may be cut short by someone else while the encode reads it.
  struct stat sound_before {};
  const bool sound_as_is = !audio.path.empty() && audio.path == audio_file.value_or("") &&
                           stat(audio.path.c_str(), &sound_before) == 0;
  if (audio.path.size() > kMaxPathLength) {
    throw CliError("the sound file path is too long for the filter (at most " +
                   std::to_string(kMaxPathLength) + " characters): " + audio.path);
  }

  host.Configure({audio.path, directory, breaks});

  if (o.verbose) {
    std::fprintf(stderr, "trackloom: picture %dx%d at %.3f fps through %s\n", video->input_width(),
                 video->input_height(), video->input_frame_rate(), video->filter_chain().c_str());
  }
  bool warned_disc = false;
  if (expected > 0 && DiscSeconds(expected, 1) > disc_limit) {
    std::fprintf(stderr,
                 "trackloom: warning: about %s of disc time expected, more than a %g-minute disc holds\n",
                 FormatDuration(DiscSeconds(expected, 1)).c_str(), o.disc_minutes);
    warned_disc = true;
  }

  TrackFileSnapshot before = TrackFileSnapshot::Take(directory);
  video->set_sound_seconds(audio.seconds);
  VideoFrameSource frames(*video, expected, far_records,
                          "the tracks reached " + FormatDuration(DiscSeconds(far_records, 1)) + " of disc time, " +
                              far_text + ", and the encode stopped there; raise --disc-minutes if that much is meant");
  Progress progress(stderr, on_terminal, expected);
  runner::RenderOptions render_options;
  render_options.on_frame = [&](const runner::RenderProgress& p) {
    progress.Update(p.frames_done);
    return !StopRequested();
  };
  const runner::RenderReport report = host.instance().Render(frames, render_options);
  progress.Finish();
  const bool interrupted = StopRequested();
  if (!video->read_error().empty() && !interrupted && !o.quiet) {
    std::fprintf(stderr,
                 "trackloom: note: reading '%s' stopped early (%s) after %lld pictures, %s at 18 fps; the "
                 "tracks end there\n",
                 o.input.c_str(), video->read_error().c_str(), static_cast<long long>(report.frames_run),
                 FormatDuration(static_cast<double>(report.frames_run) / kPictureFramesPerSecond).c_str());
  }

  const GapReport& gaps = video->gaps();
  if (gaps.count > 0 && !o.quiet) {
    std::fprintf(stderr,
                 "trackloom: note: the pictures of '%s' pause for up to %s with no sound playing (first at %s "
                 "of the tracks); %d such gap%s cut to one frame\n",
                 o.input.c_str(), FormatDuration(gaps.longest_seconds).c_str(),
                 FormatDuration(gaps.first_at_seconds).c_str(), gaps.count, gaps.count == 1 ? " was" : "s were");
  }

  // A record the disk could not take is taken back by the filter itself, so the
  // tracks on disk are whole files here.
  const std::vector<TrackFileInfo> tracks = before.WrittenSince(directory);

  // The filter's own message comes first, as it stands; then which file, and why.
  const int32_t opened = host.TracksOpened();
  const std::string complete = tracks.empty() ? "; no track was written" : "; the tracks written so far are complete";
  std::string failure;
  if (!report.errors.empty()) {
    failure = report.errors.front();
    if (failure == "Failed to create output file") {
      const std::string path = directory + "/" + TrackFileName(opened + 1);
      failure += ": cannot write '" + path + "': " + DescribeWriteError(path, WaveFile::LastError()) + complete;
    } else if (failure == "Failed to open audio file") {
      failure += ": cannot read the sound file: " + DescribeError(WaveFile::LastError());
    }
  } else if (report.failed_frame) {
    const std::string path = directory + "/" + TrackFileName(opened);
    failure = "writing frame " + std::to_string(*report.failed_frame) + " to '" + path +
              "' failed: " + WriteFailureReason(path) + complete;
  } else if (frames.failure()) {
    failure = *frames.failure() + "; the tracks written so far are complete";
  } else if (!report.ok && !interrupted) {
    failure = "the render ended with a failure the filter did not explain";
  } else if (tracks.empty() && !interrupted) {
    // Output frame 0 is never written: a track needs at least two pictures.
    failure = "'" + o.input + "' is too short: it gave " + std::to_string(report.frames_run) +
              " picture(s) at 18 fps, and a track needs at least 2";
  }
  temp.Remove();
  struct stat sound_after {};
  if (failure.empty() && sound_as_is && stat(audio.path.c_str(), &sound_after) == 0 &&
      sound_after.st_size < sound_before.st_size) {
    const double ended = static_cast<double>(std::max<off_t>(sound_after.st_size - kWavHeaderSize, 0)) /
                         (kTrackAudioRate * kTrackAudioChannels);
    const double records = static_cast<double>(report.frames_run) / kPictureFramesPerSecond;
    if (ended < records && ended < audio.seconds) {
      failure = "the sound file '" + audio.path + "' was cut short while encoding: it ended at " +
                FormatDuration(ended) + "; the rest is silent";
    }
  }

  // The directory's earlier tracks past the new last one belong to another encode.
  std::vector<std::string> removed;
  if (o.overwrite && !tracks.empty()) {
    for (int n : TrackNumbersIn(directory)) {
      if (n <= static_cast<int>(tracks.size())) continue;
      const std::string name = TrackFileName(n);
      if (unlink((directory + "/" + name).c_str()) == 0) removed.push_back(name);
    }
  }

  int64_t total_records = 0;
  double total_disc = 0;
  for (const TrackFileInfo& t : tracks) {
    total_records += t.records;
    total_disc += t.disc_seconds();
  }
  const bool over = total_disc > disc_limit;
  if (over && !warned_disc) {
    std::fprintf(stderr, "trackloom: warning: the tracks take %s of disc time, more than a %g-minute disc holds\n",
                 FormatDuration(total_disc).c_str(), o.disc_minutes);
  }

  if (o.json) {
    std::string json = "{\"input\":" + JsonString(o.input) + ",\"output_directory\":" + JsonString(directory) +
                       ",\"audio\":" + JsonString(audio.description) +
                       ",\"filter_chain\":" + JsonString(video->filter_chain()) + ",\"tracks\":[";
    for (size_t i = 0; i < tracks.size(); ++i) {
      const TrackFileInfo& t = tracks[i];
      char numbers[160];
      std::snprintf(numbers, sizeof numbers, ",\"records\":%lld,\"video_seconds\":%.3f,\"disc_seconds\":%.3f}",
                    static_cast<long long>(t.records), t.video_seconds(), t.disc_seconds());
      json += (i ? "," : "") + std::string("{\"file\":") + JsonString(t.path) + numbers;
    }
    char numbers[256];
    std::snprintf(numbers, sizeof numbers,
                  "],\"records\":%lld,\"video_seconds\":%.3f,\"disc_seconds\":%.3f,"
                  "\"disc_limit_seconds\":%.3f,\"over_disc_limit\":%s,\"interrupted\":%s,\"ok\":%s",
                  static_cast<long long>(total_records),
                  static_cast<double>(total_records) / kPictureFramesPerSecond, total_disc, disc_limit,
                  over ? "true" : "false", interrupted ? "true" : "false",
                  failure.empty() && !interrupted ? "true" : "false");
    json += numbers;
    json += ",\"removed\":[";
    for (size_t i = 0; i < removed.size(); ++i) json += (i ? "," : "") + JsonString(removed[i]);
    json += "]";
    if (!failure.empty()) json += ",\"error\":" + JsonString(failure);
    std::printf("%s}\n", json.c_str());
  } else if (!o.quiet) {
    std::printf("%s %zu track%s in '%s' (sound: %s):\n", interrupted ? "Interrupted; wrote" : "Wrote",
                tracks.size(), tracks.size() == 1 ? "" : "s", directory.c_str(), audio.description.c_str());
    for (const TrackFileInfo& t : tracks) {
      std::printf("  %-18s %7lld records  %10s video  %10s on disc\n", t.name.c_str(),
                  static_cast<long long>(t.records), FormatSecondsTenths(t.video_seconds()).c_str(),
                  FormatSecondsTenths(t.disc_seconds()).c_str());
    }
    if (tracks.size() > 1) {
      std::printf("  %-18s %7lld records  %10s video  %10s on disc\n", "total",
                  static_cast<long long>(total_records),
                  FormatSecondsTenths(static_cast<double>(total_records) / kPictureFramesPerSecond).c_str(),
                  FormatSecondsTenths(total_disc).c_str());
    }
    std::printf("Disc time: %s of %g minutes.\n", FormatDuration(total_disc).c_str(), o.disc_minutes);
    if (!removed.empty()) {
      std::printf("Removed %zu track%s of an earlier encode:", removed.size(), removed.size() == 1 ? "" : "s");
      for (const std::string& name : removed) std::printf(" %s", name.c_str());
      std::printf("\n");
    }
  }
  std::fflush(stdout);

  if (!failure.empty()) {
    std::fprintf(stderr, "trackloom: %s\n", failure.c_str());
    return 1;
  }
  if (interrupted) {
    if (!o.quiet) std::fprintf(stderr, "trackloom: interrupted; the tracks written so far are complete\n");
    return InterruptedExitStatus();
  }
  return 0;
}

}  // namespace

int Encode(const EncodeOptions& o) {
  InstallInterruptHandlers();
  av_log_set_level(o.verbose ? AV_LOG_WARNING : AV_LOG_QUIET);
  TempFile temp;
  // A failure while a stop was asked for is most likely the stop itself (blocking
  // reads give up once it is asked), so it is reported as the interrupt.
  auto fail = [&](const char* message) {
    if (StopRequested()) return Interrupted(o);
    std::fprintf(stderr, "trackloom: %s\n", message);
    return 1;
  };
  int status;
  try {
    status = EncodeWith(o, temp);
  } catch (const CliError& e) {
    status = fail(e.what());
  } catch (const runner::Error& e) {
    status = fail(e.what());
  } catch (const std::bad_alloc&) {
    status = fail("out of memory");
  }
  temp.Remove();
  return status;
}

int RunEncode(int argc, char** argv) {
  EncodeOptions options;
  if (const std::optional<int> status = ParseEncodeOptions(argc, argv, options)) return *status;
  return Encode(options);
}

}  // namespace trackloom::cli

// What trackloom encode settles for one input before it writes: the output directory
// and its limits, the breaks, the copies of what can be read only once, and the length
// the input claims.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/progress.h"
#include "cli/common/read_once.h"
#include "cli/common/temp_file.h"
#include "cli/disc/make_disc.h"
#include "cli/encode/encode_run_plan.h"
#include "cli/encode/encode_steps.h"
#include "cli/encode/filter_session.h"
#include "cli/encode/track_staging.h"
#include "cli/ffmpeg/audio_convert.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/disc_time.h"
#include "cli/tracks/track_files.h"
#include "core/wave_file.h"
#include "host/filter_module.h"

namespace trackloom::cli::encode {

namespace {

constexpr size_t kUniquePart = 6;  // the XXXXXX of mkdtemp() and mkostemps()

constexpr size_t kStagingNameLength = sizeof kStagingPrefix - 1 + kUniquePart;

constexpr size_t kSoundNameLength = sizeof kSoundPrefix - 1 + kUniquePart + sizeof kSoundSuffix - 1;

constexpr size_t kSpoolNameLength = sizeof kSpoolPrefix - 1 + kUniquePart;

constexpr size_t kTrackNameLength = 16;  // "VDN Track 01.wav"

static_assert(kMaxOutputDirectoryLength == kMaxPathLength - 1 - kTrackNameLength);

// The longest path, after the output directory, that the encode hands the filter
// (which takes at most kMaxPathLength bytes) or creates.
size_t LongestPathInside(const EncodeOptions& o) {
  // Several inputs, and --overwrite, stage tracks one directory down.
  const size_t staging = o.inputs.size() > 1 || o.overwrite ? 1 + kStagingNameLength : 0;
  const bool named_sound = !o.no_audio && !TempFile::UnnamedFilesHaveShortPaths();
  const bool named_spool =
      o.pictures.levels == LevelsMode::kAdaptive && !TempFile::UnnamedFilesHaveShortPaths();
  return staging + 1 +
         std::max({kTrackNameLength, named_sound ? kSoundNameLength : 0,
                   named_spool ? kSpoolNameLength : 0});
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

}  // namespace

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

std::optional<std::vector<int>> BreakFrames(const EncodeOptions& o,
                                            const ffmpeg::VideoSource& video) {
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
    if (video.chapter_starts().empty()) {
      o.report.Note("'" + o.input + "' has no chapters to break at");
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
  if (sorted.size() > static_cast<size_t>(kMaxBreakFrames)) {
    throw BadOptionError("at most " + std::to_string(kMaxBreakFrames) + " break frames, but " +
                         std::to_string(sorted.size()) + " were given");
  }
  if (sorted != frames && !o.break_at_chapters) {
    o.report.Note("breaking at frames " + BreakListText(sorted) + " (in order, each once)");
  }
  return sorted;
}

namespace {

// A copy of what can be read only once, in the output directory, which claim makes
// ready first: the sound is converted (its loudness measured in a pass of its own)
// before the pictures are read. Pictures alone are read as they come, so a live
// stream is encoded while it plays.
std::unique_ptr<TempFile> CopyOfReadOnce(const EncodeOptions& o, ReadOnceInput& source,
                                         const std::string& input, const std::string& directory,
                                         const std::function<void()>& claim) {
  claim();
  o.report.Note("'" + input + "' can be read only once; it is copied into a temporary file in '" +
                directory + "' first");
  Progress status(o.report.err, o.report.ShowsProgress(), -1);
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

}  // namespace

// instead: how the user asked for no sound, if they did.
std::string StillWithoutSound(const std::string& input, const std::string& instead) {
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
  plan.video = NamingInput(plan.source, o.input, [&] {
    return ffmpeg::VideoSource::Open(plan.source, o.pictures, o.generated);
  });
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
  const double far_disc_limit = plan.disc_limit * FarDiscs(o.disc.split);
  plan.far_records = static_cast<int64_t>(far_disc_limit * kTrackByteRate / kFrameRecordSize);
  char far_text[96];
  std::snprintf(far_text, sizeof far_text, "more than %d times what a disc of %g minutes holds",
                FarDiscs(o.disc.split), o.disc_minutes);
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

}  // namespace trackloom::cli::encode

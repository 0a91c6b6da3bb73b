#include "cli/encode/encode.h"

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
#include "cli/common/fs_path.h"
#include "cli/common/interrupt.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/progress.h"
#include "cli/common/read_once.h"
#include "cli/common/temp_file.h"
#include "cli/encode/encode_run_plan.h"
#include "cli/encode/encode_steps.h"
#include "cli/encode/filter_session.h"
#include "cli/encode/track_staging.h"
#include "cli/ffmpeg/audio_convert.h"
#include "cli/ffmpeg/ffmpeg_log.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/disc_time.h"
#include "cli/tracks/track_files.h"
#include "core/wave_file.h"
#include "host/filter_module.h"

namespace trackloom::cli::encode {
namespace {

void PrepareOutputDirectory(const std::string& directory) {
  std::error_code error;
  std::filesystem::create_directories(FsPath(directory), error);
  if (error) {
    throw CliError("cannot create the output directory '" + directory + "': " + error.message());
  }
  if (!std::filesystem::is_directory(FsPath(directory), error)) {
    throw CliError("the output path '" + directory + "' is not a directory");
  }
  if (access(directory.c_str(), W_OK | X_OK) != 0) {
    throw CliError("cannot write to the output directory '" + directory +
                   "': " + std::strerror(errno));
  }
}

// "a track file (VDN Track 01.wav)" or "5 track files (VDN Track 01.wav to VDN Track 05.wav)".
std::string DescribeTrackNumbers(const std::vector<int>& numbers) {
  if (numbers.size() == 1) return "a track file (" + TrackFileName(numbers.front()) + ")";
  return std::to_string(numbers.size()) + " track files (" + TrackFileName(numbers.front()) +
         " to " + TrackFileName(numbers.back()) + ")";
}

// Ctrl-C before the render began: nothing was written.
int Interrupted(const EncodeOptions& o) {
  if (!o.report.quiet) o.report.Error("interrupted before any track was written");
  return InterruptedExitStatus();
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
    return std::filesystem::is_regular_file(std::filesystem::symlink_status(FsPath(path), error));
  });
}

// What a killed encode left in directory goes before this one writes there.
void ClearLeftovers(const EncodeOptions& o, const std::string& directory) {
  const std::vector<std::string> removed = RemoveLeftovers(directory);
  if (removed.empty()) return;
  std::string names;
  for (const std::string& name : removed) names += (names.empty() ? "" : ", ") + name;
  o.report.Note("removed " + names + " in '" + directory +
                "', left by an earlier encode that was stopped before it could clear up");
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
void KeepStoppedSet(const EncodeOptions& o, EncodeRun& run) {
  if (run.holding == nullptr || run.written.empty()) return;
  try {
    ReplaceTracks(run.holding->path(), run.directory, static_cast<int>(run.written.size()));
  } catch (const CliError& e) {
    o.report.Error(e.what());
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
  struct stat sound_before = {};
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
  return ReportEncode(o, plan, *audio, outcome, failure);
}

// Runs step, one part of the encode, and turns what it throws into the exit status,
// said as the command says it: a failure while a stop was asked for is most likely
// the stop itself (blocking reads give up once it is asked), so it is the interrupt.
template <typename Step>
int Guarded(const EncodeOptions& o, const EncodeRun& run, Step step) {
  auto fail = [&](const std::string& message) {
    if (StopRequested()) return Interrupted(o);
    o.report.Error(message + KeptEarlier(run));
    return 1;
  };
  try {
    return step();
  } catch (const BadOptionError& e) {
    return UsageError(o.report.err, "encode", e.what());
  } catch (const CliError& e) {
    return fail(e.what());
  } catch (const runner::Error& e) {
    return fail(e.what());
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
}

// Encodes one input; the exit status.
int EncodeOne(const EncodeOptions& o, int first_number, EncodeRun& run) {
  TempFile temp;
  const int status = Guarded(o, run, [&] { return EncodeWith(o, temp, first_number, run); });
  temp.Remove();
  if (status != 0 && StopRequested()) KeepStoppedSet(o, run);
  return status;
}

}  // namespace

EncodeResult Encode(const EncodeOptions& o) {
  ffmpeg::RouteFfmpegLog(
      o.report.err, o.report.verbose ? ffmpeg::FfmpegLog::kWarnings : ffmpeg::FfmpegLog::kQuiet);
  const std::vector<std::string> inputs =
      o.inputs.empty() ? std::vector<std::string>{o.input} : o.inputs;
  EncodeResult result;
  // A missing file among several is found out before the first is encoded.
  for (const std::string& input : inputs) {
    if (inputs.size() > 1 && input.find(':') == std::string::npos && !IsReadOnce(input) &&
        access(input.c_str(), R_OK) != 0) {
      o.report.Error("cannot read '" + input + "': " + std::strerror(errno));
      result.status = 1;
      return result;
    }
  }
  std::vector<EncodeOptions> runs;
  for (const std::string& input : inputs) {
    runs.push_back(o);
    runs.back().input = input;
  }
  EncodeRun run;
  result.status = Guarded(o, run, [&] {
    CheckRunDiscTime(runs, o);
    return 0;
  });
  for (size_t i = 0; i < runs.size() && result.status == 0; ++i) {
    run.last_input = i + 1 == runs.size();
    // Later inputs are not encoded after a failure or Ctrl-C.
    result.status = EncodeOne(runs[i], static_cast<int>(run.written.size()) + 1, run);
  }
  result.tracks = run.written;
  if (result.status == 0 && runs.size() > 1 && o.report.Words())
    PrintRunTotal(o, runs.size(), run.written);
  return result;
}

}  // namespace trackloom::cli::encode

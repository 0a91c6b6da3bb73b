// The render of one input through the filter, and why it failed if it did, in the
// user's terms.

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
#include "cli/encode/encode_levels.h"
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

// Frames of the picture source, handed to the editor top-down as the last row with a
// negative pitch. A decoding failure ends the render normally (so the open track is
// finished) and is reported afterwards.
class VideoFrameSource : public runner::FrameSource {
 public:
  // After limit frames the source ends with too_long as its failure.
  VideoFrameSource(ffmpeg::VideoSource& video, int64_t total, int64_t limit, std::string too_long)
      : video_(video), total_(total), limit_(limit), too_long_(std::move(too_long)) {}
  runner::FrameFormat format() const override { return {}; }
  int64_t frame_count() const override { return total_; }
  std::optional<runner::Frame> Next() override {
    if (failure_) return std::nullopt;
    if (delivered_++ >= limit_) {
      failure_ = too_long_;
      return std::nullopt;
    }
    ffmpeg::Picture picture;
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
  ffmpeg::VideoSource& video_;
  int64_t total_;
  int64_t limit_;
  std::string too_long_;
  int64_t delivered_ = 0;
  int64_t last_source_frame_ = -1;
  std::optional<std::string> failure_;
};

// Why the filter's last write failed, from the reason its file object recorded.
std::string WriteFailureReason() {
  const int error = ErrnoOfFileError(WaveFile::LastError());
  if (error == WaveFile::kPastSizeFields) {
    return "the track reached the 4 GiB limit of a WAV file; add a break earlier";
  }
  return DescribeError(error);
}

void NoteReadingProblems(const EncodeOptions& o, const ffmpeg::VideoSource& video,
                         const AudioPlan& audio, int64_t pictures, bool interrupted) {
  if (o.report.quiet) return;
  // Damaged packets are skipped as players skip them; saying so tells a damaged input
  // from a faithful encode that merely looks wrong.
  const auto note_damage = [&o](const std::string& name, int64_t packets, const char* what) {
    if (packets <= 0) return;
    o.report.Note("'" + name + "' is damaged: " + Count(packets, "packet") + " of its " + what +
                  " could not be decoded and " + (packets == 1 ? "was" : "were") +
                  " skipped; repair or re-encode it for complete tracks");
  };
  note_damage(o.input, video.damaged_packets(), "pictures");
  note_damage(audio.source, audio.damaged_packets, "sound");
  if (!video.read_error().empty() && !interrupted) {
    o.report.Note("reading '" + o.input + "' stopped early (" + video.read_error() + ") after " +
                  std::to_string(pictures) + " pictures, " +
                  FormatDuration(static_cast<double>(pictures) / kFramesPerSecond) +
                  " at 18 fps; the tracks end there");
  }
  const ffmpeg::GapReport& gaps = video.gaps();
  if (gaps.count > 0) {
    o.report.Note("the pictures of '" + o.input + "' pause for up to " +
                  FormatDuration(gaps.longest_seconds) + " with no sound playing (first at " +
                  FormatDuration(gaps.first_at_seconds) + " of the tracks); " +
                  std::to_string(gaps.count) + " such gap" + (gaps.count == 1 ? " was" : "s were") +
                  " cut to one frame");
  }
}

}  // namespace

RenderOutcome RenderTracks(const EncodeOptions& o, EncodePlan& plan, const AudioPlan& audio,
                           FilterSession& session) {
  session.Configure({audio.path, plan.directory, plan.breaks});
  ffmpeg::VideoSource& video = *plan.video;
  if (o.report.verbose) {
    o.report.Error(Format("picture %dx%d at %.3f fps through %s", video.input_width(),
                          video.input_height(), video.input_frame_rate(),
                          video.filter_chain().c_str()));
  }
  RenderOutcome outcome;
  video.set_sound_seconds(audio.seconds);
  if (video.still()) plan.expected = video.estimated_frames();
  outcome.warned_disc = o.length_planned;
  if (!o.length_planned && plan.expected > 0 && !FitsDisc(plan.expected, plan.disc_limit)) {
    o.report.Warning(Format("about %s of disc time expected, more than a %g-minute disc holds",
                            DiscTimeText(plan.expected).c_str(), o.disc_minutes));
    outcome.warned_disc = true;
  }
  TrackFileSnapshot before = TrackFileSnapshot::Take(plan.directory);
  VideoFrameSource frames(
      video, plan.expected, plan.far_records,
      "the tracks reached " + FormatDuration(DiscSeconds(plan.far_records, 1)) + " of disc time, " +
          plan.far_text +
          ", and the encode stopped there; raise --disc-minutes if that much is meant");
  Progress progress(o.report.err, o.report.ShowsProgress(), plan.expected);
  // Adaptive levels: the progress counts the pictures read, which a track's are
  // before any of them is written.
  std::optional<TrackLevelSource> adaptive;
  if (o.pictures.levels == LevelsMode::kAdaptive) {
    adaptive.emplace(frames, FilterBreakList(session.Settings().break_frames), o.pictures.dither,
                     plan.directory, [&progress](int64_t read) { progress.Update(read); });
  }
  runner::RenderOptions render_options;
  render_options.on_frame = [&](const runner::RenderProgress& p) {
    progress.Update(adaptive ? adaptive->frames_read() : p.frames_done);
    return !StopRequested() || (adaptive && adaptive->holds_pictures());
  };
  outcome.report = session.instance().Render(
      adaptive ? static_cast<runner::FrameSource&>(*adaptive) : frames, render_options);
  progress.Finish();
  outcome.interrupted = StopRequested();
  outcome.source_failure = adaptive && adaptive->failure() ? adaptive->failure() : frames.failure();
  outcome.last_source_frame = frames.last_source_frame();
  if (plan.break_frames && !outcome.interrupted && !outcome.source_failure && outcome.report.ok) {
    // The breaks of --break-every stop at the end by design; the given ones are named.
    for (int f : *plan.break_frames) {
      if (f > outcome.last_source_frame) outcome.breaks_past_the_end.push_back(f);
    }
  }
  NoteReadingProblems(o, video, audio, outcome.report.frames_run, outcome.interrupted);
  outcome.tracks_opened = session.TracksOpened();
  if (adaptive) WriteTrackLevels(plan.directory, outcome.tracks_opened, adaptive->tables());
  // A record the disk could not take is taken back by the filter itself, so the
  // tracks on disk are whole files here.
  outcome.tracks = before.WrittenSince(plan.directory);
  return outcome;
}

namespace {

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

}  // namespace

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
               "': " + DescribeWriteError(path, ErrnoOfFileError(WaveFile::LastError())) +
               WrittenSoFar(r);
      }
      case RenderFailure::kOpenSound:
        return message + ": cannot read the sound file: " +
               DescribeError(ErrnoOfFileError(WaveFile::LastError()));
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

}  // namespace trackloom::cli::encode

#include "cli/encode/encode_run_plan.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>

#include "cli/common/cli_error.h"
#include "cli/common/duration.h"
#include "cli/common/messages.h"
#include "cli/common/read_once.h"
#include "cli/encode/filter_session.h"
#include "cli/tracks/disc_time.h"
#include "cli/tracks/track_files.h"

namespace trackloom::cli::encode {

std::vector<int> WithPeriodicBreaks(const EncodeOptions& o, const ffmpeg::VideoSource& video,
                                    std::vector<int> frames) {
  if (o.break_every == 0) return frames;
  const int64_t estimated = video.estimated_frames();
  const bool known = estimated >= 0 && !video.still();
  const int room = known ? kMaxBreakFrames + 1 : kMaxBreakFrames - static_cast<int>(frames.size());
  const double length = known ? static_cast<double>(estimated) / kFramesPerSecond : -1;
  for (double seconds : BreakEveryTimes(o.break_every, length, std::max(room, 0))) {
    const int64_t frame = FrameAtTime(seconds, video.input_frame_rate());
    if (frame > 0 && frame <= INT_MAX) frames.push_back(static_cast<int>(frame));
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  if (frames.size() > static_cast<size_t>(kMaxBreakFrames)) {
    throw BadOptionError("--break-every " + FormatDuration(o.break_every, 1) + " breaks '" +
                         Printable(o.input) + "' more than " + std::to_string(kMaxBreakFrames) +
                         " times, and a run of tracks holds at most " +
                         std::to_string(kMaxBreakFrames + 1) + " tracks; give a longer duration");
  }
  return frames;
}

DiscOptions EncodeDiscOptions(const EncodeOptions& o, const std::vector<std::string>& tracks) {
  DiscOptions disc = o.disc;
  disc.tracks = tracks;
  disc.capacity_minutes = std::min(o.disc_minutes, 100.0);
  disc.capacity_option = "--disc-minutes";
  disc.quiet = o.report.quiet || o.report.json;
  return disc;
}

namespace {

// An input's length and breaks as its container gives them, without reading it: a
// pipe, a device and a still (whose length is its sound's) are not known here.
PlannedInput ProbeInput(const EncodeOptions& one) {
  PlannedInput planned;
  planned.name = one.input;
  if ((!one.generated && (IsReadOnce(one.input) || IsDeviceFile(one.input))) ||
      (one.generated && one.known_frames < 0)) {
    return planned;
  }
  const std::unique_ptr<ffmpeg::VideoSource> video =
      ffmpeg::VideoSource::Open(one.input, one.pictures, one.generated);
  if (video->still()) return planned;
  planned.records = one.known_frames >= 0 ? one.known_frames : video->estimated_frames();
  EncodeOptions quiet = one;
  quiet.report.quiet = true;  // the notes come once, when the input is encoded
  std::optional<std::vector<int>> given = BreakFrames(quiet, *video);
  std::vector<int> frames;
  if (given) {
    frames = WithPeriodicBreaks(quiet, *video, *given);
  } else if (one.settings_file) {
    // Without breaks on the command line, the saved list is the filter's.
    FilterSession session;
    session.RunSettingsFile(*one.settings_file);
    ReadBreakFrames(session.Settings().break_frames, frames);
  }
  const double rate = video->input_frame_rate();
  if (!(rate > 0)) return planned;
  for (int frame : frames) {
    // The first picture at 18 fps showing the source frame the break names.
    planned.breaks.push_back(static_cast<int64_t>(
        std::ceil(static_cast<double>(frame) * kFramesPerSecond / rate - 1e-6)));
  }
  return planned;
}

}  // namespace

// A pipe's length is not known until it ends: such an input is weighed as it is
// encoded, against the disc alone.
void CheckRunDiscTime(std::vector<EncodeOptions>& runs, const EncodeOptions& o) {
  std::vector<PlannedInput> inputs;
  for (EncodeOptions& one : runs) {
    inputs.push_back(ProbeInput(one));
    one.length_planned = inputs.back().records >= 0;
  }
  const DiscTimePlan plan = PlanDiscTime(inputs);
  const std::string refusal = DiscTimeRefusal(plan, inputs, o.disc_minutes, FarDiscs(o.disc.split));
  if (!refusal.empty()) throw CliError(refusal);
  if (!o.disc.split && !FitsDisc(plan.records, o.disc_minutes * 60)) {
    const std::string together =
        inputs.size() > 1 ? " for the " + std::to_string(inputs.size()) + " inputs together" : "";
    o.report.Warning(Format("about %s of disc time expected%s, more than a %g-minute disc holds",
                            DiscTimeText(plan.records).c_str(), together.c_str(), o.disc_minutes));
  }
  if (o.disc.name.empty() || plan.unknown > 0) return;
  std::vector<uint64_t> track_bytes;
  for (int64_t records : plan.tracks)
    track_bytes.push_back(kLeadInSize + static_cast<uint64_t>(records) * kFrameRecordSize);
  CheckDiscFits(EncodeDiscOptions(o, {}), track_bytes);
}

void PrintRunTotal(const EncodeOptions& o, size_t inputs, const std::vector<std::string>& written) {
  const int64_t records = RecordsInTracks(written);
  std::fprintf(o.report.out, "All %zu inputs: %s, %s of video; disc time %s of %g minute%s.\n",
               inputs, Count(static_cast<int64_t>(written.size()), "track").c_str(),
               FormatDuration(static_cast<double>(records) / kFramesPerSecond, 1).c_str(),
               DiscTimeText(records).c_str(), o.disc_minutes, o.disc_minutes == 1 ? "" : "s");
  std::fflush(o.report.out);
}

}  // namespace trackloom::cli::encode

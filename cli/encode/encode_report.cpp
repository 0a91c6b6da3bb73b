// What trackloom encode says when an input is done: the failure or the interrupt on
// the reporter's err, then the summary as text or JSON on its out.

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

struct Totals {
  int64_t records = 0;
  double disc_seconds = 0;  // of the files, lead-ins included
  double video_seconds() const { return static_cast<double>(records) / kFramesPerSecond; }
};

void PrintJsonSummary(const EncodeOptions& o, const EncodePlan& plan, const AudioPlan& audio,
                      const RenderOutcome& r, const Totals& totals, const std::string& failure) {
  JsonWriter json(o.report.out);
  json.BeginObject().Path("input", o.input).Path("output_directory", plan.directory);
  json.Key("audio")
      .String(audio.description)
      .Key("filter_chain")
      .String(plan.video->filter_chain());
  json.Key("picture").String(plan.video->picture_summary());
  json.Key("levels").String(LevelsModeName(o.pictures.levels));
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
  std::fputc('\n', o.report.out);
}

void PrintTextSummary(const EncodeOptions& o, const EncodePlan& plan, const AudioPlan& audio,
                      const RenderOutcome& r, const Totals& totals, bool failed) {
  const std::vector<TrackFileInfo>& tracks = r.tracks;
  std::FILE* out = o.report.out;
  const char* outcome = failed          ? "Failed after writing"
                        : r.interrupted ? "Interrupted after writing"
                                        : "Wrote";
  std::fprintf(out, "%s %s in '%s' (sound: %s)%s\n", outcome,
               Count(static_cast<int64_t>(tracks.size()), "track").c_str(),
               Printable(plan.directory).c_str(), Printable(audio.description).c_str(),
               tracks.empty() ? "." : ":");
  auto line = [out](const std::string& name, int64_t records, double video, double disc) {
    std::fprintf(out, "  %-18s %15s  %10s video  %10s on disc\n", name.c_str(),
                 Count(records, "record").c_str(), FormatDuration(video, 1).c_str(),
                 FormatDuration(disc, 1).c_str());
  };
  for (const TrackFileInfo& t : tracks)
    line(t.name, t.records, t.video_seconds(), t.disc_seconds());
  if (tracks.size() > 1) line("total", totals.records, totals.video_seconds(), totals.disc_seconds);
  if (!r.breaks_past_the_end.empty()) {
    std::fprintf(out, "Not used: break%s at frame%s %s, past the last frame of '%s' (%lld).\n",
                 r.breaks_past_the_end.size() == 1 ? "" : "s",
                 r.breaks_past_the_end.size() == 1 ? "" : "s",
                 BreakListText(r.breaks_past_the_end).c_str(), Printable(o.input).c_str(),
                 static_cast<long long>(r.last_source_frame));
  }
  if (!plan.video->stream_summary().empty())
    std::fprintf(out, "Video: %s.\n", plan.video->stream_summary().c_str());
  std::fprintf(out, "Picture: %s.\n", plan.video->picture_summary().c_str());
  std::fprintf(out, "Disc time: %s of %g minute%s.\n", DiscTimeText(totals.records).c_str(),
               o.disc_minutes, o.disc_minutes == 1 ? "" : "s");
  if (!r.removed.empty()) {
    std::fprintf(out, "Removed %zu track%s of an earlier encode:", r.removed.size(),
                 r.removed.size() == 1 ? "" : "s");
    for (const std::string& name : r.removed) std::fprintf(out, " %s", name.c_str());
    std::fputc('\n', out);
  }
}

}  // namespace

// The failure or the interrupt, then the summary, and the exit status they give.
int ReportEncode(const EncodeOptions& o, const EncodePlan& plan, const AudioPlan& audio,
                 const RenderOutcome& r, const std::string& failure) {
  Totals totals;
  for (const TrackFileInfo& t : r.tracks) {
    totals.records += t.records;
    totals.disc_seconds += t.disc_seconds();
  }
  if (!FitsDisc(totals.records, plan.disc_limit) && !r.warned_disc) {
    o.report.Warning(Format("the tracks take %s of disc time, more than a %g-minute disc holds",
                            DiscTimeText(totals.records).c_str(), o.disc_minutes));
  }
  if (!failure.empty()) o.report.Error(failure);
  if (failure.empty() && r.interrupted && !o.report.quiet) {
    o.report.Error("interrupted; the tracks written so far are complete");
  }
  std::fflush(o.report.err);
  if (o.report.json) {
    PrintJsonSummary(o, plan, audio, r, totals, failure);
  } else if (!o.report.quiet) {
    PrintTextSummary(o, plan, audio, r, totals, !failure.empty());
  }
  std::fflush(o.report.out);
  if (!failure.empty()) return 1;
  if (r.interrupted) return InterruptedExitStatus();
  return 0;
}

}  // namespace trackloom::cli::encode

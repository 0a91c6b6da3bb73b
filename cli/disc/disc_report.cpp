#include "cli/disc/disc_report.h"

#include <cmath>

#include "cli/common/duration.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "cli/common/platform_text.h"
#include "cli/tracks/disc_image.h"

namespace trackloom::cli::disc {
namespace {

// The part of a blank that a disc cut to 108 mm keeps, from the disc's geometry.
constexpr double kCutDiscShare = 0.84;
// A blank of fewer minutes is already a small one (8 cm, business card): no cutting.
constexpr double kWholeBlankMinutes = 60;

void OneDisc(std::FILE* out, const DiscOptions& o, const std::string& heading,
             const DiscPlan& plan) {
  std::fprintf(out, "%s: %zu tracks, %s\n", heading.c_str(), plan.parts.size(),
               SectorsToClock(plan.sectors).c_str());
  std::fprintf(out, "  track      start     length\n");
  uint64_t at = 0;
  for (size_t i = 0; i < plan.parts.size(); ++i) {
    const DiscPart& p = plan.parts[i];
    std::string what = p.source.empty() || p.end_track ? p.label : p.source + " (" + p.label + ")";
    if (p.lengthened) what += ", silence added to 4 s";
    std::fprintf(out, "  %5zu  %9s  %9s  %s\n", i + 1, SectorsToClock(at).c_str(),
                 SectorsToClock(p.sectors()).c_str(), Printable(what).c_str());
    at += p.sectors();
  }
  const double capacity = o.capacity_minutes * 60.0;
  const double used = SectorSeconds(plan.sectors + kCdFirstPregapSectors);
  std::fprintf(
      out, "  total  %s of disc time (with the 2 s before track 1), %s left on a %g-minute CD-R\n",
      SectorsToClock(plan.sectors + kCdFirstPregapSectors).c_str(),
      FormatDuration(capacity - used).c_str(), o.capacity_minutes);
  if (o.capacity_minutes >= kWholeBlankMinutes && used > capacity * kCutDiscShare) {
    std::fprintf(out,
                 "  note: more than the about %s a %g-minute blank cut to 108 mm keeps: burn it on "
                 "a whole disc\n",
                 FormatDuration(capacity * kCutDiscShare).c_str(), o.capacity_minutes);
  }
  for (const std::string& note : plan.notes) {
    std::fprintf(out, "  note: %s\n", Printable(note).c_str());
  }
}

}  // namespace

void DiscSummary(std::FILE* out, const DiscOptions& o, const std::vector<std::string>& bases,
                 const std::vector<DiscPlan>& plans) {
  if (plans.size() > 1) {
    size_t tracks = 0;
    for (const DiscPlan& plan : plans) tracks += plan.parts.size();
    std::fprintf(out, "Wrote %zu discs (%zu tracks in all), the tracks in their order:\n",
                 plans.size(), tracks);
  }
  for (size_t i = 0; i < plans.size(); ++i) {
    const std::string shown = Printable(bases[i]);
    const std::string files = shown + ".bin, " + shown + ".cue and " + shown + ".toc";
    OneDisc(
        out, o,
        plans.size() > 1 ? "Disc " + std::to_string(i + 1) + ", wrote " + files : "Wrote " + files,
        plans[i]);
  }
  std::fputs(BurnAdvice(bases.front(), plans.size() > 1).c_str(), out);
}

void DiscJson(std::FILE* out, const DiscOptions& o, const std::vector<std::string>& bases,
              const std::vector<DiscPlan>& plans) {
  JsonWriter json(out);
  json.BeginObject().Key("capacity_minutes");
  if (o.capacity_minutes == std::floor(o.capacity_minutes)) {
    json.Integer(static_cast<int64_t>(o.capacity_minutes));
  } else {
    json.Fixed(o.capacity_minutes, 2);
  }
  json.Key("discs").BeginArray();
  for (size_t d = 0; d < plans.size(); ++d) {
    const DiscPlan& plan = plans[d];
    const uint64_t used = plan.sectors + kCdFirstPregapSectors;
    json.BeginObject().Key("disc").Unsigned(d + 1);
    json.Path("bin", bases[d] + ".bin")
        .Path("cue", bases[d] + ".cue")
        .Path("toc", bases[d] + ".toc");
    json.Key("seconds").Fixed(SectorSeconds(used), 3);
    json.Key("seconds_left").Fixed(o.capacity_minutes * 60.0 - SectorSeconds(used), 3);
    json.Key("tracks").BeginArray();
    uint64_t at = 0;
    for (size_t i = 0; i < plan.parts.size(); ++i) {
      const DiscPart& p = plan.parts[i];
      json.BeginObject().Key("track").Unsigned(i + 1).Key("kind").String(p.kind);
      if (p.source.empty() || p.end_track) {
        json.Key("file").Null();
      } else {
        json.Path("file", p.source);
      }
      json.Key("start")
          .Fixed(SectorSeconds(at), 3)
          .Key("seconds")
          .Fixed(SectorSeconds(p.sectors()), 3);
      if (p.records >= 0) json.Key("records").Integer(p.records);
      json.EndObject();
      at += p.sectors();
    }
    json.EndArray().EndObject();
  }
  json.EndArray().EndObject();
  std::fprintf(out, "\n");
}

void ReportDisc(const DiscOptions& o, const DiscResult& result, const Reporter& report) {
  if (report.json) {
    DiscJson(report.out, o, result.bases, result.plans);
  } else if (!report.quiet) {
    DiscSummary(report.out, o, result.bases, result.plans);
  }
  std::fflush(report.out);
}

}  // namespace trackloom::cli::disc

#include "cli/commands/rip_report.h"

#include <cstdlib>
#include <string>

#include "cli/common/duration.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "core/track_format.h"

namespace trackloom::cli {
namespace {

double Seconds(uint64_t records) { return static_cast<double>(records) / kFramesPerSecond; }

// Samples are 4 bytes (16-bit stereo); an offset that is not whole samples shows bytes.
std::string OffsetText(int64_t bytes) {
  if (bytes % 4 != 0) return Format("%+lld bytes", static_cast<long long>(bytes));
  return Format("%+lld samples", static_cast<long long>(bytes / 4));
}

std::string SkippedText(const RipResult& r) {
  std::string text;
  for (const TrackSeen& t : r.tracks) {
    if (t.has_records) continue;
    text += (text.empty() ? "" : ", ") +
            Format("track %d (%s)", t.number, t.all_zero ? "silence" : "audio without records");
  }
  for (const int t : r.data_tracks)
    text += (text.empty() ? "" : ", ") + Format("track %d (data)", t);
  return text;
}

}  // namespace

std::string CutText(const std::vector<CutTrack>& cut) {
  const auto clock = [](uint64_t bytes) {
    return FormatDuration(static_cast<double>(bytes) / kCdBytesPerSecond, 1);
  };
  std::string text;
  for (const CutTrack& t : cut) {
    text += (text.empty() ? "" : ", ") + Format("track %d ", t.number);
    if (t.held == 0) {
      text += "missing";
    } else {
      text += "cut short after " + clock(t.held) +
              (t.cut_off > 0 ? " of " + clock(t.held + t.cut_off) : std::string());
    }
  }
  return text;
}

std::string DamageLine(const ChapterReport& c) {
  std::string line = Format("track %d: ", c.track);
  for (size_t i = 0; i < c.damage.size(); ++i) {
    const DamagePlace& d = c.damage[i];
    line += (i == 0 ? Count(static_cast<int64_t>(d.count), "damaged record")
                    : Format(", %llu", U(d.count))) +
            " at " + FormatDuration(Seconds(d.first), 1);
  }
  return line + ", shown as the picture before";
}

void RipSummary(std::FILE* out, const RipOptions&, const RipResult& r) {
  uint64_t records = 0;
  uint64_t damaged = 0;
  for (const ChapterReport& c : r.chapters) {
    records += c.records;
    damaged += c.damaged;
  }
  std::string files;
  for (const std::string& f : r.written) files += (files.empty() ? "" : ", ") + Printable(f);
  std::fprintf(out, "Wrote %s: %s, %s of video (read through %s)\n", files.c_str(),
               Count(static_cast<int64_t>(r.chapters.size()), "chapter").c_str(),
               FormatDuration(Seconds(records), 1).c_str(), r.how.c_str());
  for (const ChapterReport& c : r.chapters) {
    std::fprintf(out, "  Track %02d: %s (%s), offset %s%s\n", c.track,
                 Count(static_cast<int64_t>(c.records), "record").c_str(),
                 FormatDuration(Seconds(c.records), 1).c_str(), OffsetText(c.offset_bytes).c_str(),
                 c.damaged > 0 ? Format(", %llu damaged", U(c.damaged)).c_str() : "");
  }
  for (const ChapterReport& c : r.chapters) {
    if (c.damaged > 0) std::fprintf(out, "%s\n", DamageLine(c).c_str());
  }
  if (!r.cut.empty()) std::fprintf(out, "The source ends early: %s.\n", CutText(r.cut).c_str());
  const std::string skipped = SkippedText(r);
  if (!skipped.empty()) std::fprintf(out, "Skipped (no records): %s\n", skipped.c_str());
  if (damaged == 0 && r.read_errors == 0) {
    std::fprintf(out, "Every record was read whole.\n");
  } else if (r.read_errors > 0) {
    std::fprintf(out, "The drive could not read %s; clean the disc and rip again to mend them.\n",
                 Count(static_cast<int64_t>(r.read_errors), "sector").c_str());
  }
}

void RipJson(std::FILE* out, const RipOptions& o, const RipResult& r) {
  JsonWriter json(out);
  json.BeginObject().Key("sources").BeginArray();
  for (const std::string& s : o.sources) json.String(s);
  json.EndArray().Key("read_through").String(r.how).Key("files").BeginArray();
  for (const std::string& f : r.written) json.String(f);
  json.EndArray().Key("chapters").BeginArray();
  for (const ChapterReport& c : r.chapters) {
    json.BeginObject().Key("track").Integer(c.track).Key("title").String(
        Format("Track %02d", c.track));
    json.Key("records").Unsigned(c.records).Key("seconds").Fixed(Seconds(c.records), 3);
    json.Key("offset_bytes")
        .Integer(c.offset_bytes)
        .Key("offset_samples")
        .Integer(c.offset_bytes / 4);
    json.Key("lead_in_bytes").Unsigned(c.lead_in).Key("damaged_records").Unsigned(c.damaged);
    json.Key("damage").BeginArray();
    for (const DamagePlace& d : c.damage) {
      json.BeginObject().Key("first_record").Unsigned(d.first).Key("records").Unsigned(d.count);
      json.Key("at_seconds").Fixed(Seconds(d.first), 3).EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray().Key("skipped").BeginArray();
  for (const TrackSeen& t : r.tracks) {
    if (t.has_records) continue;
    json.BeginObject().Key("track").Integer(t.number).Key("holds");
    json.String(t.all_zero ? "silence" : "audio").EndObject();
  }
  for (const int t : r.data_tracks)
    json.BeginObject().Key("track").Integer(t).Key("holds").String("data").EndObject();
  json.EndArray().Key("cut_short").BeginArray();
  for (const CutTrack& t : r.cut) {
    json.BeginObject().Key("track").Integer(t.number).Key("bytes").Unsigned(t.held);
    json.Key("missing_bytes");
    (t.cut_off > 0 ? json.Unsigned(t.cut_off) : json.Null()).EndObject();
  }
  json.EndArray().Key("read_errors").Unsigned(r.read_errors).EndObject();
  std::fputc('\n', out);
}

}  // namespace trackloom::cli

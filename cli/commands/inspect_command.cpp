// trackloom inspect: checks track files and says what is wrong with them, where.

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands/subcommands.h"
#include "cli/commands/track_tools.h"
#include "cli/common/arguments.h"
#include "cli/common/duration.h"
#include "cli/common/interrupt.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/common/progress.h"
#include "cli/common/reporter.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/track_reader.h"
#include "cli/tracks/track_repair.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr const char kUsageHead[] =
    "Usage: trackloom inspect [--lenient] [--json] [-q] FILE...\n"
    "       trackloom inspect [--json] IMAGE.cue|IMAGE.toc\n"
    "\n"
    "Checks track files (\"VDN Track 01.wav\", ...) the way a VideoNow Color player\n"
    "reads them and reports what they hold:\n"
    "  - the WAV header: RIFF/WAVE, PCM, 2 channels, 44100 Hz, 16 bits, byte rate\n"
    "    176400, block alignment 4;\n"
    "  - both size fields against the file's length;\n"
    "  - the 2048-byte lead-in of 0x00 before the first record;\n"
    "  - that the rest is a whole number of 19600-byte records, each starting with\n"
    "    a 400-byte record header: its sync and all-ones bytes as the template's, and\n"
    "    three level tables (the audio slots are sound);\n"
    "  - the level tables, which give each stored 4-bit value one of the panel's 32\n"
    "    levels: \"standard\" (those the filter writes) or the track's own, as retail\n"
    "    tracks carry; either is right (--json lists them);\n"
    "  - the record count, the video it holds at 18 fps, the CD time it takes (its\n"
    "    lead-in and records as CD audio, 1/9 s a record), and whether the audio\n"
    "    slots carry sound or only silence.\n"
    "Every problem is listed with its byte offset in the file, in decimal.\n"
    "\n"
    "A disc image (a cue sheet or a cdrdao TOC with its BIN or WAV files) is checked\n"
    "track by track as the player reads the disc: records are found by their header\n"
    "wherever they start, zero bytes after the last record are sector padding, and a\n"
    "track of zeros only is silence. Offsets are then counted from the track's start.\n"
    "\n"
    "Options:\n";

constexpr const char kUsageTail[] =
    "\n"
    "Exit status: 0 done (every track valid), 1 failed (a track has problems, each\n"
    "listed), 2 bad options (or a file that cannot be read).\n"
    "\n"
    "Example:\n"
    "  trackloom inspect demo-tracks/*.wav\n";

std::string AudioSummary(const TrackReport& r) {
  if (r.record_count == 0) return "none (no records)";
  if (r.records_with_sound == 0) return "silence only (every audio slot is 0x80)";
  char text[160];
  std::snprintf(text, sizeof text, "sound in %llu of %llu records (the first is record %llu)",
                U(r.records_with_sound), U(r.record_count), U(r.first_sound_record));
  return text;
}

bool StandardLevels(const TrackReport& r) {
  return r.level_changes == 0 && levels::SameTables(r.levels, levels::StandardTables());
}

constexpr const char* kComponentNames[levels::kComponents] = {"red", "green", "blue"};

// The level tables: "standard" for the template's ramp, otherwise the track's own,
// one line a component (the levels, 0-31, of the stored values 0-15).
void PrintLevels(std::FILE* out, const TrackReport& r) {
  if (StandardLevels(r)) {
    std::fprintf(out, "  levels       standard\n");
    return;
  }
  std::fprintf(out, "  levels       the track's own");
  if (r.level_changes > 0) {
    std::fprintf(out, " (those of record %llu; %llu later record%s carry others)",
                 U(r.first_levels_record), U(r.level_changes), r.level_changes == 1 ? "" : "s");
  }
  std::fputc('\n', out);
  for (int c = 0; c < levels::kComponents; ++c) {
    std::fprintf(out, "    %-6s", kComponentNames[c]);
    for (int n = 0; n < levels::kEntries; ++n) std::fprintf(out, " %2d", r.levels.level[c][n]);
    std::fputc('\n', out);
  }
}

void PrintText(std::FILE* out, const std::string& file, const TrackReport& r,
               const RepairPlan& repair) {
  if (r.valid()) {
    std::fprintf(out, "%s: valid track\n", Printable(file).c_str());
  } else {
    std::fprintf(out, "%s: %llu problem%s\n", Printable(file).c_str(), U(r.problem_count),
                 r.problem_count == 1 ? "" : "s");
  }
  std::fprintf(out, "  length       %llu bytes\n", U(r.file_length));
  if (r.header_complete) {
    const TrackWavFields& w = r.wav;
    std::fprintf(out,
                 "  WAV header   format %u%s, %u channels, %u Hz, %u bits, %u bytes/s, "
                 "block alignment %u\n",
                 w.format, w.format == 1 ? " (PCM)" : "", w.channels, w.sample_rate,
                 w.bits_per_sample, w.byte_rate, w.block_align);
    std::fprintf(out, "  size fields  RIFF %u, data %u\n", w.riff_size, w.data_size);
  }
  if (r.file_length > kWaveHeaderSize) {
    std::fprintf(out, "  lead-in      %llu bytes at offset 44, %s\n", U(r.lead_in_length),
                 r.lead_in_nonzero == 0 ? "all 0x00" : "not all 0x00");
    std::fprintf(out, "  records      %llu from offset %llu, 19600 bytes each", U(r.record_count),
                 U(r.first_record));
    if (r.partial_record_bytes > 0) {
      std::fprintf(out, ", then %llu bytes of a cut-off record", U(r.partial_record_bytes));
    } else if (r.padding_bytes > 0) {
      std::fprintf(out, ", then %llu zero bytes of sector padding (split out of a disc image)",
                   U(r.padding_bytes));
    }
    std::fputc('\n', out);
    if (r.record_count > 0) {
      if (r.bad_header_records == 0) {
        std::fprintf(out, "  headers      every record header %s\n",
                     StandardLevels(r) ? "matches the template" : "is whole");
      } else {
        std::fprintf(out, "  headers      %llu of %llu record headers differ from the template\n",
                     U(r.bad_header_records), U(r.record_count));
      }
    }
    if (r.levels_known) PrintLevels(out, r);
    std::fprintf(out, "  video        %llu frame%s, %s at 18 fps\n", U(r.record_count),
                 r.record_count == 1 ? "" : "s", FormatDuration(r.video_seconds(), 2).c_str());
    std::fprintf(out, "  disc time    %s of CD time (lead-in and records)\n",
                 FormatDuration(r.disc_seconds(), 2).c_str());
    std::fprintf(out, "  audio        %s\n", AudioSummary(r).c_str());
  }
  if (r.read_failed) std::fprintf(out, "  read error   %s\n", r.read_error.c_str());
  if (!r.problems.empty()) {
    std::fprintf(out, "  problems:\n");
    for (const TrackProblem& p : r.problems) {
      std::fprintf(out, "    offset %llu: %s\n", U(p.offset), p.what.c_str());
    }
    if (r.problem_count > r.problems.size()) {
      std::fprintf(out, "    ... and %llu more\n", U(r.problem_count - r.problems.size()));
    }
  }
  if (repair.possible) {
    std::fprintf(out,
                 "  repair       never finished; trackloom repair \"%s\" cuts it to its %llu whole "
                 "records and writes its size fields\n",
                 file.c_str(), U(repair.records));
  }
}

void PrintJson(JsonWriter& json, const std::string& file, const TrackReport& r,
               const RepairPlan& repair) {
  const TrackWavFields& w = r.wav;
  json.BeginObject().Path("file", file).Key("readable").Bool(!r.read_failed);
  if (r.read_failed) {
    json.Key("error").String(r.read_error);
    if (r.file_length == 0) {  // never opened: nothing else is known
      json.EndObject();
      return;
    }
  }
  json.Key("valid").Bool(r.valid()).Key("length").Unsigned(r.file_length);
  json.Key("wav").BeginObject();
  json.Key("complete").Bool(r.header_complete).Key("riff_size").Unsigned(w.riff_size);
  json.Key("fmt_size").Unsigned(w.fmt_size).Key("format").Unsigned(w.format);
  json.Key("channels").Unsigned(w.channels).Key("sample_rate").Unsigned(w.sample_rate);
  json.Key("byte_rate").Unsigned(w.byte_rate).Key("block_align").Unsigned(w.block_align);
  json.Key("bits_per_sample").Unsigned(w.bits_per_sample).Key("data_size").Unsigned(w.data_size);
  json.EndObject();
  json.Key("lead_in").BeginObject().Key("offset").Integer(kWaveHeaderSize);
  json.Key("length")
      .Unsigned(r.lead_in_length)
      .Key("nonzero_bytes")
      .Unsigned(r.lead_in_nonzero)
      .EndObject();
  json.Key("first_record").Unsigned(r.first_record).Key("records").Unsigned(r.record_count);
  json.Key("partial_record_bytes").Unsigned(r.partial_record_bytes);
  json.Key("bad_record_headers").Unsigned(r.bad_header_records);
  json.Key("padding_bytes").Unsigned(r.padding_bytes);
  if (r.levels_known) {
    json.Key("levels").BeginObject().Key("standard").Bool(StandardLevels(r));
    for (int c = 0; c < levels::kComponents; ++c) {
      json.Key(kComponentNames[c]).BeginArray();
      for (int n = 0; n < levels::kEntries; ++n) json.Unsigned(r.levels.level[c][n]);
      json.EndArray();
    }
    json.Key("later_records_with_other_levels").Unsigned(r.level_changes).EndObject();
  }
  json.Key("video_seconds")
      .Fixed(r.video_seconds(), 3)
      .Key("disc_seconds")
      .Fixed(r.disc_seconds(), 3);
  json.Key("records_with_sound").Unsigned(r.records_with_sound);
  json.Key("audio").String(r.record_count == 0 ? "none"
                                               : (r.records_with_sound > 0 ? "sound" : "silence"));
  json.Key("repairable").Bool(repair.possible);
  json.Key("problem_count").Unsigned(r.problem_count).Key("problems").BeginArray();
  for (const TrackProblem& p : r.problems) {
    json.BeginObject().Key("offset").Unsigned(p.offset).Key("what").String(p.what).EndObject();
  }
  json.EndArray().EndObject();
}

struct DiscTrackCheck {
  const DiscTrack* track;
  TrackReport report;
  bool end_of_disc = false;  // the last track with sound: never played, may be plain audio
  bool silence() const { return report.valid() && report.record_count == 0 && !end_of_disc; }
};

void PrintDiscText(std::FILE* out, const std::string& file,
                   const std::vector<DiscTrackCheck>& checks, uint64_t problems, uint64_t records,
                   uint64_t sectors) {
  std::fprintf(out, "%s: disc image, %zu track%s, %s\n", Printable(file).c_str(), checks.size(),
               checks.size() == 1 ? "" : "s",
               problems == 0
                   ? "every track as a player reads it"
                   : (std::to_string(problems) + " problem" + (problems == 1 ? "" : "s")).c_str());
  for (const DiscTrackCheck& c : checks) {
    const TrackReport& r = c.report;
    std::fprintf(
        out, "  track %2d  at %9s  %10s  ", c.track->number,
        SectorsToClock(c.track->start_sector).c_str(),
        FormatDuration(static_cast<double>(c.track->length()) / kCdBytesPerSecond, 2).c_str());
    if (c.silence()) {
      std::fprintf(out, "silence\n");
      continue;
    }
    if (c.end_of_disc) {
      std::fprintf(out, "end of disc: audio without video (the player never plays it)\n");
      continue;
    }
    std::fprintf(out, "%llu record%s from byte %llu, %s of video", U(r.record_count),
                 r.record_count == 1 ? "" : "s", U(r.first_record),
                 FormatDuration(r.video_seconds(), 2).c_str());
    if (r.padding_bytes > 0) std::fprintf(out, ", %llu bytes of padding", U(r.padding_bytes));
    std::fputc('\n', out);
    if (r.read_failed) std::fprintf(out, "    read error: %s\n", r.read_error.c_str());
    for (const TrackProblem& p : r.problems)
      std::fprintf(out, "    offset %llu: %s\n", U(p.offset), p.what.c_str());
    if (r.problem_count > r.problems.size()) {
      std::fprintf(out, "    ... and %llu more\n", U(r.problem_count - r.problems.size()));
    }
  }
  std::fprintf(out, "  total     %s of video in %llu records, %s of disc time\n",
               FormatDuration(static_cast<double>(records) / kFramesPerSecond, 2).c_str(),
               U(records),
               FormatDuration(static_cast<double>(sectors) / kCdSectorsPerSecond, 2).c_str());
}

void PrintDiscJson(JsonWriter& json, const std::string& file,
                   const std::vector<DiscTrackCheck>& checks, uint64_t problems, uint64_t records,
                   uint64_t sectors) {
  json.BeginObject()
      .Path("image", file)
      .Key("valid")
      .Bool(problems == 0)
      .Key("tracks")
      .BeginArray();
  for (const DiscTrackCheck& c : checks) {
    const TrackReport& r = c.report;
    json.BeginObject()
        .Key("number")
        .Integer(c.track->number)
        .Key("start_sector")
        .Unsigned(c.track->start_sector);
    json.Key("bytes").Unsigned(c.track->length()).Key("silence").Bool(c.silence());
    json.Key("end_of_disc").Bool(c.end_of_disc).Key("first_record").Unsigned(r.first_record);
    json.Key("records").Unsigned(r.record_count).Key("padding_bytes").Unsigned(r.padding_bytes);
    json.Key("video_seconds").Fixed(r.video_seconds(), 3);
    json.Key("problem_count")
        .Unsigned(r.problem_count + (r.read_failed ? 1 : 0))
        .Key("problems")
        .BeginArray();
    if (r.read_failed)
      json.BeginObject().Key("offset").Integer(0).Key("what").String(r.read_error).EndObject();
    for (const TrackProblem& p : r.problems) {
      json.BeginObject().Key("offset").Unsigned(p.offset).Key("what").String(p.what).EndObject();
    }
    json.EndArray().EndObject();
  }
  json.EndArray().Key("records").Unsigned(records);
  json.Key("video_seconds").Fixed(static_cast<double>(records) / kFramesPerSecond, 3);
  json.Key("disc_seconds").Fixed(static_cast<double>(sectors) / kCdSectorsPerSecond, 3).EndObject();
}

// Checks every track of a disc image; the exit status as for a track file.
int InspectDiscImage(const std::string& file, JsonWriter* json, const Reporter& report) {
  std::string error;
  const std::optional<DiscImage> image = ReadDiscImage(file, &error);
  if (!image) {
    if (json)
      json->BeginObject()
          .Path("image", file)
          .Key("readable")
          .Bool(false)
          .Key("error")
          .String(error)
          .EndObject();
    report.Error(error);
    return 2;
  }
  std::vector<DiscTrackCheck> checks;
  uint64_t problems = 0, records = 0, sectors = 0;
  for (const DiscTrack& track : image->tracks) {
    if (StopRequested()) return 0;  // InspectMain says so; half an image is not shown
    DiscTrackCheck check{&track, {}};
    std::unique_ptr<ByteSource> source = OpenDiscTrack(track, &error);
    if (source == nullptr) {
      check.report.read_failed = true;
      check.report.read_error = error;
    } else {
      InspectOptions options;
      options.headerless = true;
      check.report = InspectTrack(*source, options);
    }
    sectors = track.start_sector + (track.length() + kCdSectorBytes - 1) / kCdSectorBytes;
    checks.push_back(std::move(check));
  }
  if (StopRequested()) return 0;
  // The track after the last video, before any silent padding, ends the disc: the
  // player stops there, so it need not hold records.
  for (size_t i = checks.size(); i-- > 1;) {
    TrackReport& r = checks[i].report;
    if (r.read_failed || r.record_count > 0) break;
    if (r.padding_bytes == checks[i].track->length()) continue;  // silence
    r.problems.clear();
    r.problem_count = 0;
    checks[i].end_of_disc = true;
    break;
  }
  for (const DiscTrackCheck& check : checks) {
    problems += check.report.problem_count + (check.report.read_failed ? 1 : 0);
    records += check.report.record_count;
  }
  if (json) {
    PrintDiscJson(*json, file, checks, problems, records, sectors);
  } else {
    PrintDiscText(report.out, file, checks, problems, records, sectors);
  }
  return problems == 0 ? 0 : 1;
}

// Checks one track file; its exit status (0 valid, 1 problems, 2 unreadable). Nothing
// is printed for a check Ctrl-C stopped.
int InspectTrackFile(const std::string& file, bool lenient, bool separate, JsonWriter* json,
                     const Reporter& reporter) {
  std::FILE* const out = reporter.out;
  std::string error;
  TrackReport report;
  std::unique_ptr<FileSource> source = FileSource::Open(file, &error);
  if (source == nullptr) {
    report.read_failed = true;
    report.read_error = "cannot open: " + error;
  } else {
    InspectOptions options;
    options.lenient = lenient;
    // A track's records are its frames: the line counts them, of as many as the
    // file's length holds after the standard lead-in.
    const uint64_t size = source->Size();
    const auto expected = static_cast<int64_t>(
        size > kFirstRecordOffset ? (size - kFirstRecordOffset) / kFrameRecordSize : 0);
    // The display is drawn for JSON too: it goes to the terminal, the document to out.
    Progress progress(reporter.err, !reporter.quiet && isatty(fileno(reporter.err)), expected);
    options.progress = [&](uint64_t done, uint64_t) {
      progress.Update(static_cast<int64_t>(done));
    };
    report = InspectTrack(*source, options);
    progress.Finish();
    if (StopRequested()) return 0;  // InspectMain says so
  }
  const RepairPlan repair = PlanRepair(report);
  if (json) {
    PrintJson(*json, file, report, repair);
  } else if (source == nullptr) {
    reporter.Error(file + ": " + report.read_error);
  } else {
    if (separate) std::fputc('\n', out);
    PrintText(out, file, report, repair);
    if (report.read_failed) reporter.Error(file + ": " + report.read_error);
  }
  return report.read_failed ? 2 : (report.valid() ? 0 : 1);
}

}  // namespace

int InspectMain(int argc, char** argv, Reporter report) {
  bool lenient = false;
  const std::vector<Option> table = {
      {"lenient", 0, nullptr, StoreFlag(&lenient), nullptr,
       "accept any lead-in length: record 0 is where the first record\n"
       "header is (tracks made by other encoders)"},
      JsonOption(&report.json, "print one JSON document on standard output instead of text"),
      QuietOption(&report.quiet, "no progress display while long tracks are read"),
  };
  const CommandLine line = ReadCommandLine(
      argc, argv, table, HelpText(kUsageHead, table, {14, "show this help"}, kUsageTail),
      report.out, report.err);
  if (line.exit_status) return *line.exit_status;
  const std::vector<std::string>& files = line.operands;
  if (files.empty()) return UsageError(report.err, "inspect", "no track file given");

  int status = 0;
  JsonWriter json_out(report.out);
  if (report.json) json_out.BeginObject().Key("tracks").BeginArray();
  std::string stopped_at;
  for (size_t i = 0; i < files.size() && stopped_at.empty(); ++i) {
    const std::string& file = files[i];
    if (IsDiscImageName(file)) {
      if (!report.json && i > 0) std::fputc('\n', report.out);
      status = std::max(status, InspectDiscImage(file, report.json ? &json_out : nullptr, report));
    } else {
      status = std::max(status, InspectTrackFile(file, lenient, i > 0,
                                                 report.json ? &json_out : nullptr, report));
    }
    if (StopRequested()) stopped_at = file;
  }
  if (report.json) {
    json_out.EndArray().EndObject();
    std::fputc('\n', report.out);
  }
  std::fflush(report.out);
  if (!stopped_at.empty()) {
    // The file being checked when Ctrl-C came is left out: half a check says nothing.
    report.Error("interrupted while checking " + stopped_at + "; it is not reported");
    return InterruptedExitStatus();
  }
  return status;
}

int RunInspect(int argc, char** argv) {
  InstallInterruptHandlers();
  return InspectMain(argc, argv, {});
}

}  // namespace trackloom::cli

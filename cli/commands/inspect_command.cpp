// trackloom inspect: checks track files and says what is wrong with them, where.
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/common/arguments.h"
#include "cli/common/progress.h"
#include "cli/commands/subcommands.h"
#include "cli/tracks/track_reader.h"
#include "cli/tracks/track_repair.h"
#include "cli/commands/track_tools.h"

namespace trackloom::cli {

namespace {

constexpr const char kUsage[] =
    "Usage: trackloom inspect [--lenient] [--json] [--quiet] FILE...\n"
    "\n"
    "Checks track files (\"VDN Track 01.wav\", ...) the way a VideoNow Color player\n"
    "reads them and reports what they hold:\n"
    "  - the WAV header: RIFF/WAVE, PCM, 2 channels, 44100 Hz, 16 bits, byte rate\n"
    "    176400, block alignment 4;\n"
    "  - both size fields against the file's length;\n"
    "  - the 2048-byte lead-in of 0x00 before the first record;\n"
    "  - that the rest is a whole number of 19600-byte records, each starting with\n"
    "    the constant 400-byte record header (its data bytes; the audio slots are sound);\n"
    "  - the record count, the video it holds at 18 fps, the CD time it takes\n"
    "    (1/9 s a record), and whether the audio slots carry sound or only silence.\n"
    "Every problem is listed with its byte offset in the file, in decimal.\n"
    "\n"
    "Options:\n"
    "  --lenient   accept any lead-in length: record 0 is where the first record\n"
    "              header is (tracks made by other encoders)\n"
    "  --json      print one JSON document on standard output instead of text\n"
    "  --quiet     no progress display while long tracks are read\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0 when every track is valid, 1 when a track has problems, 2 when a\n"
    "file cannot be read or the command line is wrong.\n"
    "\n"
    "Example:\n"
    "  trackloom inspect demo-tracks/*.wav\n";

unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }

std::string AudioSummary(const TrackReport& r) {
  if (r.record_count == 0) return "none (no records)";
  if (r.records_with_sound == 0) return "silence only (every audio slot is 0x80)";
  char text[160];
  std::snprintf(text, sizeof text, "sound in %llu of %llu records (the first is record %llu)",
                U(r.records_with_sound), U(r.record_count), U(r.first_sound_record));
  return text;
}

void PrintText(std::FILE* out, const std::string& file, const TrackReport& r, const RepairPlan& repair) {
  if (r.valid()) {
    std::fprintf(out, "%s: valid track\n", file.c_str());
  } else {
    std::fprintf(out, "%s: %llu problem%s\n", file.c_str(), U(r.problem_count),
                 r.problem_count == 1 ? "" : "s");
  }
  std::fprintf(out, "  length       %llu bytes\n", U(r.file_length));
  if (r.header_complete) {
    const TrackWavFields& w = r.wav;
    std::fprintf(out,
                 "  WAV header   format %u%s, %u channels, %u Hz, %u bits, %u bytes/s, "
                 "block alignment %u\n",
                 w.format, w.format == 1 ? " (PCM)" : "", w.channels, w.sample_rate, w.bits_per_sample, w.byte_rate, w.block_align);
    std::fprintf(out, "  size fields  RIFF %u, data %u\n", w.riff_size, w.data_size);
  }
  if (r.file_length > 44) {
    std::fprintf(out, "  lead-in      %llu bytes at offset 44, %s\n", U(r.lead_in_length),
                 r.lead_in_nonzero == 0 ? "all 0x00" : "not all 0x00");
    std::fprintf(out, "  records      %llu from offset %llu, 19600 bytes each", U(r.record_count),
                 U(r.first_record));
    if (r.partial_record_bytes > 0) {
      std::fprintf(out, ", then %llu bytes of a cut-off record", U(r.partial_record_bytes));
    }
    std::fputc('\n', out);
    if (r.record_count > 0) {
      if (r.bad_header_records == 0) {
        std::fprintf(out, "  headers      every record header matches the template\n");
      } else {
        std::fprintf(out, "  headers      %llu of %llu record headers differ from the template\n",
                     U(r.bad_header_records), U(r.record_count));
      }
    }
    std::fprintf(out, "  video        %llu frame%s, %s at 18 fps\n", U(r.record_count),
                 r.record_count == 1 ? "" : "s", FormatSeconds(r.video_seconds()).c_str());
    std::fprintf(out, "  disc time    %s of CD time (1/9 s a record)\n",
                 FormatSeconds(r.disc_seconds()).c_str());
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
    std::fprintf(out, "  repair       never finished; trackloom repair \"%s\" cuts it to its %llu whole "
                      "records and writes its size fields\n",
                 file.c_str(), U(repair.records));
  }
}

void PrintJson(std::FILE* out, const std::string& file, const TrackReport& r, const RepairPlan& repair) {
  const TrackWavFields& w = r.wav;
  std::fprintf(out, "{\"file\": ");
  WriteJsonString(out, file);
  std::fprintf(out, ", \"readable\": %s", r.read_failed ? "false" : "true");
  if (r.read_failed) {
    std::fprintf(out, ", \"error\": ");
    WriteJsonString(out, r.read_error);
    if (r.file_length == 0) {  // never opened: nothing else is known
      std::fputc('}', out);
      return;
    }
  }
  std::fprintf(out, ", \"valid\": %s, \"length\": %llu", r.valid() ? "true" : "false",
               U(r.file_length));
  std::fprintf(out,
               ", \"wav\": {\"complete\": %s, \"riff_size\": %u, \"fmt_size\": %u, \"format\": %u, "
               "\"channels\": %u, \"sample_rate\": %u, \"byte_rate\": %u, \"block_align\": %u, "
               "\"bits_per_sample\": %u, \"data_size\": %u}",
               r.header_complete ? "true" : "false", w.riff_size, w.fmt_size, w.format, w.channels,
               w.sample_rate, w.byte_rate, w.block_align, w.bits_per_sample, w.data_size);
  std::fprintf(out, ", \"lead_in\": {\"offset\": 44, \"length\": %llu, \"nonzero_bytes\": %llu}",
               U(r.lead_in_length), U(r.lead_in_nonzero));
  std::fprintf(out,
               ", \"first_record\": %llu, \"records\": %llu, \"partial_record_bytes\": %llu, "
               "\"bad_record_headers\": %llu",
               U(r.first_record), U(r.record_count), U(r.partial_record_bytes),
               U(r.bad_header_records));
  std::fprintf(out, ", \"video_seconds\": %.3f, \"disc_seconds\": %.3f", r.video_seconds(),
               r.disc_seconds());
  std::fprintf(out, ", \"records_with_sound\": %llu, \"audio\": \"%s\"", U(r.records_with_sound),
               r.record_count == 0 ? "none" : (r.records_with_sound > 0 ? "sound" : "silence"));
  std::fprintf(out, ", \"repairable\": %s", repair.possible ? "true" : "false");
  std::fprintf(out, ", \"problem_count\": %llu, \"problems\": [", U(r.problem_count));
  for (size_t i = 0; i < r.problems.size(); ++i) {
    std::fprintf(out, "%s{\"offset\": %llu, \"what\": ", i == 0 ? "" : ", ", U(r.problems[i].offset));
    WriteJsonString(out, r.problems[i].what);
    std::fputc('}', out);
  }
  std::fprintf(out, "]}");
}

}  // namespace

int InspectMain(int argc, char** argv, std::FILE* out, std::FILE* err) {
  bool lenient = false;
  bool json = false;
  bool quiet = false;
  auto flag = [](bool& field) {
    return [&field](const std::string&) {
      field = true;
      return std::string();
    };
  };
  const std::vector<Option> table = {
      {"lenient", 0, nullptr, flag(lenient)},
      {"json", 0, nullptr, flag(json)},
      {"quiet", 0, nullptr, flag(quiet)},
  };
  const CommandLine line = ReadCommandLine(argc, argv, table, kUsage, out, err);
  if (line.exit_status) return *line.exit_status;
  const std::vector<std::string>& files = line.operands;
  if (files.empty()) return UsageError(err, "inspect", "no track file given");

  const bool show_progress = !quiet && err == stderr && isatty(fileno(stderr));
  int status = 0;
  if (json) std::fprintf(out, "{\"tracks\": [");
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& file = files[i];
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
      const auto expected = static_cast<int64_t>(size > 2092 ? (size - 2092) / 19600 : 0);
      Progress progress(err, show_progress, expected);
      options.progress = [&](uint64_t done, uint64_t) { progress.Update(static_cast<int64_t>(done)); };
      report = InspectTrack(*source, options);
      progress.Finish();
    }
    const int file_status = report.read_failed ? 2 : (report.valid() ? 0 : 1);
    if (file_status > status) status = file_status;
    const RepairPlan repair = PlanRepair(report);

    if (json) {
      if (i > 0) std::fprintf(out, ", ");
      PrintJson(out, file, report, repair);
    } else if (source == nullptr) {
      std::fprintf(err, "trackloom inspect: %s: %s\n", file.c_str(), report.read_error.c_str());
    } else {
      if (i > 0) std::fputc('\n', out);
      PrintText(out, file, report, repair);
      if (report.read_failed) {
        std::fprintf(err, "trackloom inspect: %s: %s\n", file.c_str(), report.read_error.c_str());
      }
    }
  }
  if (json) std::fprintf(out, "]}\n");
  std::fflush(out);
  return status;
}

int RunInspect(int argc, char** argv) { return InspectMain(argc, argv, stdout, stderr); }

}  // namespace trackloom::cli

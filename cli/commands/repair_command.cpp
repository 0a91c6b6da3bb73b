// trackloom repair: mends tracks whose writer never finished them (killed, or a power
// cut): cut back to the last whole record, with size fields that say so.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands/subcommands.h"
#include "cli/commands/track_tools.h"
#include "cli/common/arguments.h"
#include "cli/common/duration.h"
#include "cli/common/messages.h"
#include "cli/common/reporter.h"
#include "cli/tracks/track_reader.h"
#include "cli/tracks/track_repair.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr const char kUsageHead[] =
    "Usage: trackloom repair [--dry-run] TRACK...\n"
    "\n"
    "Mends track files that were never finished: an encode that was killed, or a\n"
    "power cut, leaves the track it was writing with size fields of 0 and perhaps\n"
    "part of a record at its end, and players and 'trackloom inspect' refuse it.\n"
    "repair cuts such a track back to its last whole record and writes its size\n"
    "fields, and says what it did. A valid track is left as it is; a file with any\n"
    "other damage (not a track, a changed header or lead-in, a record that does not\n"
    "start with a record header) is refused and left alone.\n"
    "\n"
    "Options:\n";

constexpr const char kUsageTail[] =
    "\n"
    "Exit status: 0 done (every file a valid track afterwards), 1 failed (a file\n"
    "refused or not changed; one line on stderr says why), 2 bad options (or a file\n"
    "that cannot be read).\n"
    "\n"
    "Example:\n"
    "  trackloom repair tracks/*.wav\n";

}  // namespace

int RepairMain(int argc, char** argv, Reporter reporter) {
  std::FILE* const out = reporter.out;
  bool dry_run = false;
  const std::vector<Option> table = {
      {"dry-run", 0, nullptr, StoreFlag(&dry_run), nullptr,
       "say what would be done, change nothing"},
  };
  const CommandLine line = ReadCommandLine(
      argc, argv, table, HelpText(kUsageHead, table, {14, "show this help"}, kUsageTail), out,
      reporter.err);
  if (line.exit_status) return *line.exit_status;
  if (line.operands.empty()) return UsageError(reporter.err, "repair", "no track file given");

  int status = 0;
  for (const std::string& file : line.operands) {
    std::string error;
    std::unique_ptr<FileSource> source = FileSource::Open(file, &error);
    if (source == nullptr) {
      reporter.Error(file + ": cannot open: " + error);
      status = std::max(status, 2);
      continue;
    }
    const TrackReport report = InspectTrack(*source, {});
    source.reset();
    const RepairPlan plan = PlanRepair(report);
    if (!plan.needed) {
      std::fprintf(out, "%s: a valid track of %llu records%s; left as it is\n",
                   Printable(file).c_str(), U(report.record_count),
                   report.padding_bytes > 0 ? ", then the zero bytes of a disc sector" : "");
      continue;
    }
    if (!plan.possible) {
      reporter.Error(file + ": not a track this can mend (" + plan.refusal +
                     "; see 'trackloom inspect'); left alone");
      status = std::max(status, 1);
      continue;
    }
    // A dry run meets the same refusals as the repair (a link, hard links, a track
    // an encode is still writing), so that it never promises what would be refused.
    if (dry_run ? !CanRepair(file, &error) : !RepairTrack(file, plan, &error)) {
      reporter.Error(file + ": cannot repair: " + error);
      status = std::max(status, 1);
      continue;
    }
    std::string cut;
    if (plan.cut_bytes > 0)
      cut =
          "cut off the last " + std::to_string(plan.cut_bytes) + " bytes (an unfinished record), ";
    std::fprintf(out, "%s: %s%ssize fields set for %llu records (%s of video)\n",
                 Printable(file).c_str(),
                 dry_run ? "would be repaired: " : "repaired: ", cut.c_str(), U(plan.records),
                 FormatDuration(static_cast<double>(plan.records) / kFramesPerSecond, 2).c_str());
  }
  return status;
}

int RunRepair(int argc, char** argv) { return RepairMain(argc, argv, {}); }

}  // namespace trackloom::cli

#include "cli/tracks/disc_plan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "cli/common/cli_error.h"
#include "cli/common/duration.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {
namespace {

void LengthenToMinimum(DiscPart& part) {
  const uint64_t minimum = kCdMinTrackSectors * kCdSectorBytes;
  if (part.length + part.silence < minimum) {
    part.silence = minimum - part.length;
    part.lengthened = true;
  }
}

std::string FirstProblem(const TrackReport& report) {
  if (report.read_failed) return report.read_error;
  if (report.problems.empty()) return "";
  return "offset " + std::to_string(report.problems.front().offset) + ": " +
         report.problems.front().what;
}

DiscPart FirstPart(const std::string& path) {
  std::string error;
  std::optional<AudioRange> audio = FindWavAudio(path, &error);
  if (!audio) throw CliError("the first track: " + error);
  std::unique_ptr<FileSource> file = FileSource::Open(path, &error);
  if (file == nullptr) throw CliError("cannot open '" + path + "': " + error);
  DiscTrack track;
  track.pieces.push_back({path, audio->offset, audio->length, false});
  std::unique_ptr<ByteSource> source = OpenDiscTrack(track, &error);
  if (source == nullptr) throw CliError(error);
  InspectOptions options;
  options.headerless = true;
  const TrackReport report = InspectTrack(*source, options);
  if (report.read_failed) throw CliError("cannot read '" + path + "': " + report.read_error);
  if (report.record_count == 0) {
    throw CliError("'" + path +
                   "' holds no video records, so the player would refuse the disc: --first " +
                   "takes the first track of a retail disc you own, ripped as a WAV file");
  }
  return {"first track, " + std::to_string(report.record_count) + " records", path, audio->offset,
          audio->length};
}

DiscPart TrackPart(const std::string& path) {
  std::string error;
  std::unique_ptr<FileSource> file = FileSource::Open(path, &error);
  if (file == nullptr) throw CliError("cannot open the track '" + path + "': " + error);
  const TrackReport report = InspectTrack(*file, {});
  if (!report.valid()) {
    throw CliError("'" + path + "' is not a valid track (" + FirstProblem(report) +
                   "); see 'trackloom inspect " + ShellWord(path) + "'");
  }
  std::optional<AudioRange> audio = FindWavAudio(path, &error);
  if (!audio) throw CliError(error);
  return {std::to_string(report.record_count) + " records, " +
              FormatDuration(report.video_seconds(), 2) + " of video",
          path, audio->offset, audio->length};
}

DiscPart LastPart(const std::optional<std::string>& path) {
  if (!path) {
    DiscPart end{
        "end of disc, 4 s of black", "", 0,
        static_cast<uint64_t>(kLeadInSize) + uint64_t{kEndTrackRecords} * kFrameRecordSize};
    end.end_track = true;
    return end;
  }
  std::string error;
  std::optional<AudioRange> audio = FindWavAudio(*path, &error);
  if (!audio) throw CliError("the last track: " + error);
  return {"end of disc", *path, audio->offset, audio->length};
}

}  // namespace

// A path as a shell reads it back.
std::string ShellWord(const std::string& text) {
  if (text.find_first_not_of(
          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./+,:@") ==
      std::string::npos) {
    return text;
  }
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

DiscPlan PlanDisc(const DiscOptions& o, const std::vector<uint64_t>* planned) {
  DiscPlan plan;
  plan.parts.push_back(FirstPart(o.first));
  for (const std::string& t : o.tracks) plan.parts.push_back(TrackPart(t));
  if (planned != nullptr) {
    for (uint64_t bytes : *planned) plan.parts.push_back({"a track to be written", "", 0, bytes});
  }
  plan.parts.push_back(LastPart(o.last));
  for (DiscPart& part : plan.parts) {
    LengthenToMinimum(part);
    if (part.lengthened) {
      plan.notes.push_back("'" + (part.source.empty() ? part.label : part.source) +
                           "' is shorter than 4 s, the least a CD track lasts: silence was added");
    }
    plan.sectors += part.sectors();
  }
  const auto pad_sectors = static_cast<uint64_t>(std::ceil(o.pad_to_seconds * kCdSectorsPerSecond));
  if (o.pad && plan.sectors < pad_sectors) {
    DiscPart pad{"silence up to " + SectorsToClock(pad_sectors), "", 0, 0};
    pad.silence = std::max(pad_sectors - plan.sectors, kCdMinTrackSectors) * kCdSectorBytes;
    plan.sectors += pad.sectors();
    plan.parts.push_back(pad);
  }
  if (plan.parts.size() > static_cast<size_t>(kCdMaxTracks)) {
    throw CliError("a CD holds at most 99 tracks, and this disc would have " +
                   std::to_string(plan.parts.size()) + " (the first track, " +
                   std::to_string(o.tracks.size() + (planned ? planned->size() : 0)) +
                   " of yours, the end track" + (o.pad ? " and the padding" : "") + ")");
  }
  const double capacity = o.capacity_minutes * 60;
  const double used = SectorSeconds(plan.sectors + kCdFirstPregapSectors);
  if (used > capacity) {
    char minutes[32];
    std::snprintf(minutes, sizeof minutes, "%g", o.capacity_minutes);
    const bool padding_did_it =
        o.pad && o.pad_to_seconds > capacity - SectorSeconds(kCdFirstPregapSectors);
    throw CliError("the disc would last " + FormatDuration(used) + ", more than the " +
                   FormatDuration(capacity) + " a " + minutes + "-minute blank holds (" +
                   o.capacity_option + "); " +
                   (padding_did_it ? "lower --pad-to or give --no-pad"
                                   : "leave out tracks or make them shorter") +
                   "; nothing was written");
  }
  return plan;
}

void CheckFirstTrack(const std::string& path) { FirstPart(path); }

void CheckDiscFits(const DiscOptions& options, const std::vector<uint64_t>& track_bytes) {
  PlanDisc(options, &track_bytes);
}

}  // namespace trackloom::cli

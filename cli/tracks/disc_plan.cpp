#include "cli/tracks/disc_plan.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>

#include "cli/common/cli_error.h"
#include "cli/common/duration.h"
#include "cli/common/messages.h"
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

// A first track ripped from a retail disc often ends inside a record: the drive's read
// offset moved the track's end. The player never sees that part of a record whole, so
// it is left out, and the disc holds whole records only.
DiscPart FirstPart(const std::string& path, std::vector<std::string>& notes) {
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
  DiscPart part{"first track, " + std::to_string(report.record_count) + " records", path,
                audio->offset, audio->length};
  part.records = static_cast<int64_t>(report.record_count);
  part.kind = "first";
  if (report.partial_record_bytes > 0) {
    part.length = report.first_record + report.record_count * kFrameRecordSize;
    notes.push_back("the first track ends inside a record (" +
                    std::to_string(report.partial_record_bytes) + " of its " +
                    std::to_string(kFrameRecordSize) +
                    " bytes, as a drive's read offset cuts it): that part was left out");
  }
  return part;
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
  DiscPart part{std::to_string(report.record_count) + " records, " +
                    FormatDuration(report.video_seconds(), 2) + " of video",
                path, audio->offset, audio->length};
  part.records = static_cast<int64_t>(report.record_count);
  return part;
}

DiscPart LastPart(const std::optional<std::string>& path) {
  if (!path) {
    DiscPart end{
        "end of disc, 4 s of black", "", 0,
        static_cast<uint64_t>(kLeadInSize) + uint64_t{kEndTrackRecords} * kFrameRecordSize};
    end.end_track = true;
    end.kind = "end";
    return end;
  }
  std::string error;
  std::optional<AudioRange> audio = FindWavAudio(*path, &error);
  if (!audio) throw CliError("the last track: " + error);
  DiscPart end{"end of disc", *path, audio->offset, audio->length};
  end.kind = "end";
  return end;
}

void NoteLengthened(const DiscPart& part, std::vector<std::string>& notes) {
  if (!part.lengthened) return;
  notes.push_back("'" + (part.source.empty() ? part.label : part.source) +
                  "' is shorter than 4 s, the least a CD track lasts: silence was added");
}

// Silence up to --pad-to, but never past the blank's end: a disc of 21 minutes is
// padded to 21 minutes, and when less than the 4 s of a track is left, not at all.
void AddPadding(const DiscOptions& o, uint64_t room, DiscPlan& plan) {
  const auto wanted = static_cast<uint64_t>(std::ceil(o.pad_to_seconds * kCdSectorsPerSecond));
  const uint64_t pad_sectors = std::min(wanted, room);
  if (!o.pad || plan.sectors >= pad_sectors) return;
  const uint64_t silence = std::max(pad_sectors - plan.sectors, kCdMinTrackSectors);
  if (plan.sectors + silence > room) return;
  DiscPart pad{"silence up to " + SectorsToClock(plan.sectors + silence), "", 0, 0};
  pad.silence = silence * kCdSectorBytes;
  pad.kind = "padding";
  plan.sectors += pad.sectors();
  plan.parts.push_back(pad);
}

std::string OverCapacity(const DiscOptions& o, const DiscPlan& plan, size_t count) {
  const double used = SectorSeconds(plan.sectors + kCdFirstPregapSectors);
  char minutes[32];
  std::snprintf(minutes, sizeof minutes, "%g", o.capacity_minutes);
  const std::string why = "the disc would last " + FormatDuration(used) + ", more than the " +
                          FormatDuration(o.capacity_minutes * 60) + " a " + minutes +
                          "-minute blank holds (" + o.capacity_option + ")";
  if (count == 1) {
    const DiscPart& track = plan.parts[1];
    if (track.source.empty()) {
      return track.label + " alone does not fit one disc: " + why +
             "; break it into shorter tracks (--break-at or --break-every), or use a longer "
             "blank; nothing was written";
    }
    return "'" + track.source + "' alone does not fit one disc: " + why +
           "; encode it again broken into shorter tracks (--break-at or --break-every), "
           "or use a longer blank; nothing was written";
  }
  return why + "; " +
         (o.split ? std::string("leave out tracks or make them shorter")
                  : "give --split to write as many discs as the tracks need, or leave out "
                    "tracks") +
         "; nothing was written";
}

}  // namespace

// A path as a shell reads it back.
std::string ImageNameProblem(const std::string& file) {
  for (const char c : file) {
    if (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20) {
      return "the image's name cannot hold quotes, backslashes or control characters "
             "(cue sheets cannot quote them): '" +
             file + "'";
    }
  }
  return "";
}

DiscParts GatherDiscParts(const DiscOptions& o, const std::vector<uint64_t>* planned) {
  DiscParts parts;
  parts.first = FirstPart(o.first, parts.notes);
  parts.last = LastPart(o.last);
  for (const std::string& t : o.tracks) parts.tracks.push_back(TrackPart(t));
  if (planned != nullptr) {
    for (uint64_t bytes : *planned) {
      parts.tracks.push_back(
          {"track " + std::to_string(parts.tracks.size() + 1) + " of the encode", "", 0, bytes});
    }
  }
  for (DiscPart* part : {&parts.first, &parts.last}) LengthenToMinimum(*part);
  for (DiscPart& part : parts.tracks) LengthenToMinimum(part);
  for (const DiscPart* part : {&parts.first, &parts.last}) NoteLengthened(*part, parts.notes);
  for (const DiscPart& part : parts.tracks) NoteLengthened(part, parts.notes);
  return parts;
}

uint64_t UnpaddedSectors(const DiscParts& parts, size_t from, size_t count) {
  uint64_t sectors = kCdFirstPregapSectors + parts.first.sectors() + parts.last.sectors();
  for (size_t i = from; i < from + count; ++i) sectors += parts.tracks[i].sectors();
  return sectors;
}

DiscPlan AssembleDisc(const DiscOptions& o, const DiscParts& parts, size_t from, size_t count) {
  DiscPlan plan;
  plan.parts.push_back(parts.first);
  plan.parts.insert(plan.parts.end(), parts.tracks.begin() + static_cast<ptrdiff_t>(from),
                    parts.tracks.begin() + static_cast<ptrdiff_t>(from + count));
  plan.parts.push_back(parts.last);
  for (const DiscPart& part : plan.parts) plan.sectors += part.sectors();
  const uint64_t capacity = CapacitySectors(o);
  if (plan.sectors + kCdFirstPregapSectors > capacity) throw CliError(OverCapacity(o, plan, count));
  AddPadding(o, capacity - kCdFirstPregapSectors, plan);
  if (plan.parts.size() > static_cast<size_t>(kCdMaxTracks)) {
    throw CliError("a CD holds at most 99 tracks, and this disc would have " +
                   std::to_string(plan.parts.size()) + " (the first track, " +
                   std::to_string(count) + " of yours, the end track" +
                   (std::string(plan.parts.back().kind) == "padding" ? " and the padding" : "") +
                   ")" + (o.split ? "" : "; give --split to write as many discs as they need"));
  }
  return plan;
}

DiscPlan PlanDisc(const DiscOptions& o, const std::vector<uint64_t>* planned) {
  const DiscParts parts = GatherDiscParts(o, planned);
  DiscPlan plan = AssembleDisc(o, parts, 0, parts.tracks.size());
  plan.notes = parts.notes;
  return plan;
}

void CheckFirstTrack(const std::string& path) {
  std::vector<std::string> notes;
  FirstPart(path, notes);
}

void CheckDiscFits(const DiscOptions& options, const std::vector<uint64_t>& track_bytes) {
  PlanDiscs(options, &track_bytes);
}

}  // namespace trackloom::cli

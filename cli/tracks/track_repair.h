// Mending a track that was never finished: its writer was killed, or the power went,
// before the size fields were written, perhaps in the middle of a record. Such a
// track is cut back to its last whole record and its two size fields are written; a
// file with any other damage is not a track this can mend, and is left alone.
#pragma once

#include <cstdint>
#include <string>

#include "cli/tracks/track_reader.h"

namespace trackloom::cli {

struct RepairPlan {
  bool needed = false;     // the track is not valid as it stands
  bool possible = false;   // ... and cutting and new size fields make it valid
  std::string refusal;     // why not, when needed but not possible
  uint64_t records = 0;    // whole records kept
  uint64_t length = 0;     // the length it is cut to
  uint64_t cut_bytes = 0;  // bytes of an unfinished record taken off
};

// What repairing the track that report describes (checked strictly) would do.
RepairPlan PlanRepair(const TrackReport& report);

// Cuts the file to plan.length and writes its size fields. The file is opened without
// following links, refused when it has other names (hard links), and locked, so a
// track still being written is refused. False, with the reason in *error, when it
// cannot be done.
bool RepairTrack(const std::string& path, const RepairPlan& plan, std::string* error);
// Whether RepairTrack() would get to work on path (the same refusals, nothing
// changed): what a dry run says.
bool CanRepair(const std::string& path, std::string* error);

}  // namespace trackloom::cli

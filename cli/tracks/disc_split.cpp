// Tracks over several discs: each disc whole as the player needs it (the first track,
// its share of the tracks in their order, the end track, the padding), filled before
// the next begins. A track is never cut between discs: the player starts a track at
// its lead-in, so half a track on each disc would play as neither.
#include <cstddef>
#include <string>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli {
namespace {

// The room a padding track takes among the 99 tracks when one may be needed.
size_t TracksLeftForUser(const DiscOptions& o) {
  return static_cast<size_t>(kCdMaxTracks) - 2 - (o.pad ? 1 : 0);
}

// How many of the tracks from `from` on fill one disc (at least one: a track that does
// not fit alone is refused by AssembleDisc with its own advice).
size_t TracksOnDisc(const DiscOptions& o, const DiscParts& parts, size_t from) {
  const uint64_t capacity = CapacitySectors(o);
  size_t count = 1;
  while (from + count < parts.tracks.size() && count < TracksLeftForUser(o) &&
         UnpaddedSectors(parts, from, count + 1) <= capacity) {
    ++count;
  }
  return count;
}

}  // namespace

std::vector<DiscPlan> PlanDiscs(const DiscOptions& o, const std::vector<uint64_t>* planned) {
  if (!o.split) return {PlanDisc(o, planned)};
  const DiscParts parts = GatherDiscParts(o, planned);
  std::vector<DiscPlan> plans;
  for (size_t from = 0; from < parts.tracks.size();) {
    const size_t count = TracksOnDisc(o, parts, from);
    plans.push_back(AssembleDisc(o, parts, from, count));
    from += count;
  }
  if (plans.empty()) plans.push_back(AssembleDisc(o, parts, 0, 0));
  plans.front().notes = parts.notes;
  return plans;
}

}  // namespace trackloom::cli

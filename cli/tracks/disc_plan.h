// What a disc image will hold, settled before a byte of it is written: the first
// track, the user's tracks, the end track and the padding, each as a part of the BIN,
// checked against the blank's capacity and the 99 tracks a CD holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/tracks/disc_image.h"
#include "core/track_format.h"

namespace trackloom::cli {

struct DiscOptions {
  std::string name;   // NAME of NAME.bin, NAME.cue, NAME.toc
  std::string first;  // the first track, copied from a retail disc
  std::optional<std::string> last;
  bool pad = true;
  double pad_to_seconds = 41 * 60 + 20;
  double capacity_minutes = 80;  // whole minutes from --capacity; encode's may be less
  // Write as many discs as the tracks need (NAME-1, NAME-2, ...), not refuse them.
  bool split = false;
  bool json = false;
  // Encode the test tracks (NAME-tracks/) and make the disc of them.
  bool test_pattern = false;
  // The option that sets the capacity, as the refusal names it (encode --disc has its
  // own).
  const char* capacity_option = "--capacity";
  bool quiet = false;
  std::vector<std::string> tracks;
};

// 36 records of 1/9 s of disc time each: the 4 s a CD track lasts at least.
inline constexpr int kEndTrackRecords = 36;

inline uint64_t SectorsFor(uint64_t bytes) { return (bytes + kCdSectorBytes - 1) / kCdSectorBytes; }
inline double SectorSeconds(uint64_t sectors) {
  return static_cast<double>(sectors) / kCdSectorsPerSecond;
}

// Why a disc image cannot have this file name (without its extension), or "": cue
// sheets and TOCs cannot quote quotes, backslashes or control characters.
std::string ImageNameProblem(const std::string& file);

// One track of the disc: audio bytes of a file, then zero bytes.
struct DiscPart {
  std::string label;
  std::string source;  // empty: silence only
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t silence = 0;  // zero bytes after the audio, up to 4 s or a whole sector
  bool lengthened = false;
  bool end_track = false;      // made here, once every check has passed
  int64_t records = -1;        // the track's records as inspect counts them; -1 not known
  const char* kind = "track";  // "first", "track", "end" or "padding"
  uint64_t sectors() const { return SectorsFor(length + silence); }
};

struct DiscPlan {
  std::vector<DiscPart> parts;
  std::vector<std::string> notes;
  uint64_t sectors = 0;
};

// Every part the discs of o are made of, each read and checked once: the first
// track, the user's tracks (then the planned ones) lengthened to 4 s, the end track.
struct DiscParts {
  DiscPart first;
  std::vector<DiscPart> tracks;
  DiscPart last;
  std::vector<std::string> notes;
};
DiscParts GatherDiscParts(const DiscOptions& o, const std::vector<uint64_t>* planned);

// The disc of the first track, parts.tracks[from, from + count), the end track and the
// padding (never past the capacity). Throws CliError when it does not fit.
DiscPlan AssembleDisc(const DiscOptions& o, const DiscParts& parts, size_t from, size_t count);

// The sectors of that disc without padding, the 2 s before track 1 included.
uint64_t UnpaddedSectors(const DiscParts& parts, size_t from, size_t count);

// The parts of the disc o describes. planned: the user's tracks by their expected
// length, before they are written; without it, o.tracks as they are. Throws CliError
// when a track is unusable or the disc would not fit.
DiscPlan PlanDisc(const DiscOptions& o, const std::vector<uint64_t>* planned = nullptr);

// The discs o's tracks need: one disc (PlanDisc) without o.split, otherwise the
// tracks in their order, each disc filled before the next begins, none split.
std::vector<DiscPlan> PlanDiscs(const DiscOptions& o,
                                const std::vector<uint64_t>* planned = nullptr);

// The disc's capacity in sectors, the 2 s before track 1 included.
inline uint64_t CapacitySectors(const DiscOptions& o) {
  return static_cast<uint64_t>(o.capacity_minutes * 60 * kCdSectorsPerSecond);
}

// Throws CliError saying why path cannot be a disc's first track (not CD audio, or
// no records in it).
void CheckFirstTrack(const std::string& path);

// Throws CliError, before any track is written, when a disc of options.first, tracks of
// track_bytes bytes of CD audio each, the end track and the padding would not fit the
// blank (or hold too many tracks).
void CheckDiscFits(const DiscOptions& options, const std::vector<uint64_t>& track_bytes);

}  // namespace trackloom::cli

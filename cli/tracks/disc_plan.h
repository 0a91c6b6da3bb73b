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
  double capacity_minutes = 80;
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

// A path as a shell reads it back.
std::string ShellWord(const std::string& text);

// One track of the disc: audio bytes of a file, then zero bytes.
struct DiscPart {
  std::string label;
  std::string source;  // empty: silence only
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t silence = 0;  // zero bytes after the audio, up to 4 s or a whole sector
  bool lengthened = false;
  bool end_track = false;  // made here, once every check has passed
  uint64_t sectors() const { return SectorsFor(length + silence); }
};

struct DiscPlan {
  std::vector<DiscPart> parts;
  std::vector<std::string> notes;
  uint64_t sectors = 0;
};

// The parts of the disc o describes. planned: the user's tracks by their expected
// length, before they are written; without it, o.tracks as they are. Throws CliError
// when a track is unusable or the disc would not fit.
DiscPlan PlanDisc(const DiscOptions& o, const std::vector<uint64_t>* planned = nullptr);

// Throws CliError saying why path cannot be a disc's first track (not CD audio, or
// no records in it).
void CheckFirstTrack(const std::string& path);

// Throws CliError, before any track is written, when a disc of options.first, tracks of
// track_bytes bytes of CD audio each, the end track and the padding would not fit the
// blank (or hold too many tracks).
void CheckDiscFits(const DiscOptions& options, const std::vector<uint64_t>& track_bytes);

}  // namespace trackloom::cli

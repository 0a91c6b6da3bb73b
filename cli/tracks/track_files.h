// The track files an encode leaves in the output directory, as the command sees them
// from outside the filter: which ones this run wrote, how many records each holds,
// and how much video and disc time that is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/common/unique_fd.h"
#include "core/instance_state.h"
#include "core/track_format.h"

namespace trackloom::cli {

// The sizes of the filter's output are the format's own (core/track_format.h). A
// track is declared as CD audio, 44100 Hz x 16 bits x 2 channels: kTrackByteRate
// bytes a second, so a record takes 1/9 s of disc time while it holds 1/18 s of video.
// An encode stops, rather than warns, at this many times the disc's capacity.
inline constexpr int kDiscsTooMany = 4;
// The same when the tracks are to be split over discs (--split): a long season.
inline constexpr int kSplitDiscsTooMany = 24;
inline int FarDiscs(bool split) { return split ? kSplitDiscsTooMany : kDiscsTooMany; }
// One track more than the filter's list holds breaks.
inline constexpr int kMaxTracks = kMaxBreakFrames + 1;
// The filter's path fields hold 259 characters; "/VDN Track NN.wav" takes 17 of them.
inline constexpr size_t kMaxPathLength = 259;
inline constexpr size_t kMaxOutputDirectoryLength = kMaxPathLength - 17;

// Disc time of tracks holding records frame records in all.
double DiscSeconds(int64_t records, int64_t tracks);

// "VDN Track 01.wav" for 1.
std::string TrackFileName(int number);

struct TrackFileInfo {
  std::string name;
  std::string path;
  int64_t length = 0;
  int64_t records = 0;
  // Both size fields match the file: the filter finished it (a failed finish, e.g. a
  // close the system refused, can leave them unpatched). Reads the header, so it is
  // asked only when an encode failed.
  bool finished() const;
  double video_seconds() const { return static_cast<double>(records) / kFramesPerSecond; }
  double disc_seconds() const {
    return TrackDiscSeconds(static_cast<uint64_t>(length - kWaveHeaderSize));
  }
};

// What the numbered track files of a directory looked like before a render, so that
// afterwards the ones the render wrote (new, or rewritten) can be told from
// leftovers of an earlier, longer encode.
class TrackFileSnapshot {
 public:
  static TrackFileSnapshot Take(const std::string& directory);
  // Track 01 onwards, up to the first one the render did not write.
  std::vector<TrackFileInfo> WrittenSince(const std::string& directory) const;

 private:
  struct Stamp {
    bool exists = false;
    uint64_t device = 0, inode = 0;
    int64_t size = 0, mtime_ns = 0, ctime_ns = 0;
    bool operator==(const Stamp&) const = default;
  };
  static Stamp StampOf(const std::string& path);
  std::vector<Stamp> stamps_;
};

// The numbers in the track names of a directory, ascending: "VDN Track 01.wav" to
// "VDN Track 99.wav", all a disc can hold. Whatever holds the name counts, so that
// nothing under it is written over unasked; IsTrackFile() tells which are tracks.
std::vector<int> TrackNumbersIn(const std::string& directory);

// Puts tables into the header of every whole record of the track file at path (the
// rest of the file as it was). Throws CliError when the file cannot be rewritten.
void WriteLevelTables(const std::string& path, const levels::Tables& tables);

// path is a regular file (not a link) that begins with a track's header: one an
// encode may replace or remove. A file of the user's that only carries the name is not.
bool IsTrackFile(const std::string& path);

// An encode's claim on its output directory for as long as it runs: an advisory
// lock (flock) on the directory itself, so a second encode into it is refused and
// nothing is left on disk however the first one ends.
class OutputDirectoryLock {
 public:
  // Throws CliError, naming the process that holds the lock where the system says,
  // when another encode has the directory. Where the file system has no such locks,
  // the encode goes on without one.
  explicit OutputDirectoryLock(const std::string& directory);

 private:
  UniqueFd fd_;
};

}  // namespace trackloom::cli

// Where an encode's tracks wait before they take their places in the output
// directory, and the clearing up after an encode that was killed before it could
// clear up itself.
#pragma once

#include <string>
#include <vector>

#include "cli/tracks/track_files.h"

namespace trackloom::cli::encode {

// What an encode makes inside the output directory besides the tracks: the tracks of
// a later input (and with --overwrite those of the whole run) are written in a
// directory of their own first, and the converted sound is a file of its own (reached
// through /proc/self/fd where the system has it), as are the pictures of a track
// waiting for its adaptive level tables.
inline constexpr char kStagingPrefix[] = ".trackloom-input-";
inline constexpr char kSoundPrefix[] = ".trackloom-sound-";
inline constexpr char kSoundSuffix[] = ".wav";
inline constexpr char kSpoolPrefix[] = ".trackloom-pictures-";

// A directory of its own inside the output directory, removed with what it holds.
class StagingDirectory {
 public:
  explicit StagingDirectory(const std::string& parent);
  ~StagingDirectory();
  StagingDirectory(const StagingDirectory&) = delete;
  StagingDirectory& operator=(const StagingDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Moves tracks written in a staging directory to into, numbered from first; their
// names and paths then say where they end up, in shown_in.
void NumberOn(std::vector<TrackFileInfo>& tracks, const std::string& into,
              const std::string& shown_in, int first);

// Removes what an encode into directory left when it was killed: its staging
// directories (only those holding nothing but track files) and its named temporary
// files. The names removed. Called only under the directory's lock, so no encode
// still running owns them.
std::vector<std::string> RemoveLeftovers(const std::string& directory);

// Tracks 1 to count of holding take their places in directory, replacing the tracks
// there, and the directory's tracks past count are removed: the names removed. Throws
// CliError, before anything is moved, when one of the names is held by something that
// is not a track.
std::vector<std::string> ReplaceTracks(const std::string& holding, const std::string& directory,
                                       int count);

}  // namespace trackloom::cli::encode

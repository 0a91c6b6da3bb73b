// `trackloom disc`: track files into a disc image a CD writer burns as the player
// needs it (first track, the user's tracks, an end track, silent padding; disc-at-once,
// no gaps): NAME.bin with NAME.cue for any burning program, NAME.toc for cdrdao.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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

// Parses the options after the subcommand's name: -1 to go on, otherwise the exit
// status (0 after --help, 2 after a wrong option, with one line on err).
int ParseDiscOptions(int argc, char** argv, DiscOptions& options, std::FILE* out, std::FILE* err);

// Throws CliError saying why path cannot be a disc's first track (not CD audio, or
// no records in it).
void CheckFirstTrack(const std::string& path);

// Throws CliError, before any track is written, when a disc of options.first, tracks of
// track_bytes bytes of CD audio each, the end track and the padding would not fit the
// blank (or hold too many tracks).
void CheckDiscFits(const DiscOptions& options, const std::vector<uint64_t>& track_bytes);

// Checks everything, writes the image and prints its summary on out; the exit status.
// Installs no signal handlers: the caller does.
int MakeDisc(const DiscOptions& options, std::FILE* out, std::FILE* err);

}  // namespace trackloom::cli

// The player on the screen: a window showing each record's picture as the panel
// shows it, and the records' sound through the sound card, 18 records a second, the
// sound's clock driving the pictures. The only code that includes SDL.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/tracks/track_reader.h"

namespace trackloom::cli::sdl {

// One track to play: its records are record_count x 19600 bytes from first_record.
struct PlayTrack {
  std::string path;
  std::string name;  // for the title: the file's name, or the disc image's and the track's
  std::unique_ptr<ByteSource> source;
  uint64_t first_record = 0;
  uint64_t record_count = 0;
};

struct PlayerOptions {
  int scale = 3;      // the window is 216 x 162 times this
  bool sound = true;  // false: a timer is the clock and nothing is heard
};

// Plays the tracks in order until the last one ends or the user quits. Returns the
// exit status: 0, or 1 when no window can be opened (after one line on err).
int RunPlayer(std::vector<PlayTrack>& tracks, const PlayerOptions& options, std::FILE* err);

}  // namespace trackloom::cli::sdl

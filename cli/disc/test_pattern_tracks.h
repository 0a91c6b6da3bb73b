// The tracks of `trackloom disc --test-pattern`: what a player must show and play
// right, each as an FFmpeg source graph for its picture and one for its sound.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/track_format.h"

namespace trackloom::cli::disc {

struct PatternTrack {
  std::string title;         // on the card, and in the summary
  std::string line1, line2;  // what to look for, on the card
  double seconds = 0;        // the whole track, card included once made
  std::string video;         // the picture's graph: 144 x 80, 18 fps
  std::string sound;         // the sound's graph: 44100 Hz stereo
  bool card = true;          // starts with the title card
  // Level tables written into every record's header once the track is encoded, in
  // place of the standard ones the filter writes.
  std::optional<levels::Tables> tables = std::nullopt;
};

// Every track of the test disc in its order; font: the TrueType file drawtext uses.
std::vector<PatternTrack> TestPatternTracks(const std::string& font);

}  // namespace trackloom::cli::disc

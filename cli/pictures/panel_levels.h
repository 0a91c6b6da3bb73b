// The 16 levels a component has on the player's panel, reached from 8-bit pictures
// either by plain rounding or by ordered dithering laid out on the panel's dots.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/track_format.h"

namespace trackloom::cli {

enum class Dither {
  kOrdered,  // a fixed 4 x 4 threshold pattern over the panel's dots
  kNone,     // each component rounded to the nearest level
};

// Which level tables a track's record headers carry.
enum class LevelsMode {
  kStandard,  // the template's: 16 levels spread evenly over the panel's 32
  kAdaptive,  // 16 chosen for each track from the levels its pictures use most
};

const char* LevelsModeName(LevelsMode mode);

// Reduces every colour component of a 144 x 80 picture (32-bit pixels, blue in the
// low byte, rows top first, stride bytes apart) in place to one of the 16 levels,
// written as level x 17, the values the filter's quantiser keeps exactly. Ordered
// dithering places each component's threshold at the dot the component lights on the
// 216 x 160 panel, so the pattern is the finest the panel can show and depends on
// the position only: a still picture gives the same levels in every frame.
void ReduceToPanelLevels(uint8_t* pixels, int stride, Dither dither);

// The 8-bit values each component's 16 stored values show as, increasing: what a
// reduction aims at. [component: 0 red, 1 green, 2 blue][stored value].
using LevelAim = std::array<std::array<uint8_t, levels::kEntries>, levels::kComponents>;

// Stored value n shown as n x 17, the aim of ReduceToPanelLevels.
LevelAim EvenAim();
// Stored value n shown as its table's level shows: round(T[n] x 255 / 31).
LevelAim AimAt(const levels::Tables& tables);

// ReduceToPanelLevels towards any increasing aim: a component between the shown
// values of stored values k and k + 1 becomes one of the two (written as level x 17,
// for the filter's quantiser), by the same thresholds on the same dots, so that the
// shown picture averages to the source; below the first or above the last it takes
// that one. With EvenAim() it gives exactly what ReduceToPanelLevels gives.
class LevelReducer {
 public:
  LevelReducer(const LevelAim& aim, Dither dither);
  void Reduce(uint8_t* pixels, int stride) const;

 private:
  // [component][threshold][value]: the stored value x 17.
  std::array<std::array<std::array<uint8_t, 256>, 16>, levels::kComponents> by_threshold_{};
};

// A picture as the filter would store it (RGB, 3 bytes a pixel, count pixels) shown
// as the panel shows it: every component quantised as the filter does ((v + 8) / 17)
// and shown at its table's level, round(T[n] x 255 / 31).
void ShowAtLevels(uint8_t* rgb, size_t count, const levels::Tables& tables);

}  // namespace trackloom::cli

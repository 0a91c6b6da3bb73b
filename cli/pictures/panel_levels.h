// The 16 levels a component has on the player's panel, reached from 8-bit pictures
// either by plain rounding or by ordered dithering laid out on the panel's dots.
#pragma once

#include <cstdint>
#include <string>

#include "core/track_format.h"

namespace trackloom::cli {

enum class Dither {
  kOrdered,  // a fixed 4 x 4 threshold pattern over the panel's dots
  kNone,     // each component rounded to the nearest level
};

// Parses "ordered" or "none"; false for anything else.
bool ParseDither(const std::string& text, Dither& dither);

// Reduces every colour component of a 144 x 80 picture (32-bit pixels, blue in the
// low byte, rows top first, stride bytes apart) in place to one of the 16 levels,
// written as level x 17, the values the filter's quantiser keeps exactly. Ordered
// dithering places each component's threshold at the dot the component lights on the
// 216 x 160 panel, so the pattern is the finest the panel can show and depends on
// the position only: a still picture gives the same levels in every frame.
void ReduceToPanelLevels(uint8_t* pixels, int stride, Dither dither);

// A picture as the filter would store it (RGB, 3 bytes a pixel, count pixels) shown
// as the panel shows it: every component quantised as the filter does ((v + 8) / 17)
// and shown at its table's level, round(T[n] x 255 / 31).
void ShowAtLevels(uint8_t* rgb, size_t count, const levels::Tables& tables);

}  // namespace trackloom::cli

// The level tables a track is best shown with: for each colour component, the 16 of
// the panel's 32 levels that bring its pictures, as reduced and shown, closest to
// what they were before.
#pragma once

#include <array>
#include <cstdint>

#include "cli/pictures/panel_levels.h"
#include "core/track_format.h"

namespace trackloom::cli {

// How often each 8-bit value of each component occurs in the pictures added.
class LevelHistograms {
 public:
  // A 144 x 80 picture as ReduceToPanelLevels takes it (BGRA, rows stride apart).
  void Add(const uint8_t* pixels, int stride);
  // [component: 0 red, 1 green, 2 blue][value]
  const std::array<std::array<uint64_t, 256>, levels::kComponents>& counts() const {
    return counts_;
  }

 private:
  std::array<std::array<uint64_t, 256>, levels::kComponents> counts_{};
};

// The tables, 16 strictly increasing levels a component, that give the least squared
// error over the histograms once each value is reduced with dither towards the
// levels' shown values: rounded, a value costs its distance to the nearer of the two
// levels around it, squared; dithered between levels a and b, (v - a)(b - v), the
// error's mean square over the thresholds. Chosen exactly, over every subset.
levels::Tables ChooseTables(const LevelHistograms& histograms, Dither dither);

}  // namespace trackloom::cli

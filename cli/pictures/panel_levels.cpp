#include "cli/pictures/panel_levels.h"

#include <array>
#include <cstddef>

#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr int kLevels = 16;
constexpr int kLevelStep = 255 / (kLevels - 1);  // 17: level n is shown as 17 n

// The 4 x 4 Bayer matrix: sixteen thresholds spread so that any run of them lights
// dots as far apart as possible.
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// For threshold t (0-15) and value v: the level floor(v / 17 + (t + 0.5) / 16),
// which is v's own level when v is a multiple of 17 and averages to v / 17 over the
// sixteen thresholds; rounding is the same with every t at one half.
struct LevelTables {
  std::array<std::array<uint8_t, 256>, 16> by_threshold;
  std::array<uint8_t, 256> rounded;
};

constexpr LevelTables MakeLevelTables() {
  LevelTables t{};
  for (int v = 0; v < 256; ++v) {
    for (int b = 0; b < 16; ++b) {
      int level = (32 * v + 2 * kLevelStep * b + kLevelStep) / (32 * kLevelStep);
      if (level > kLevels - 1) level = kLevels - 1;
      t.by_threshold[static_cast<size_t>(b)][static_cast<size_t>(v)] =
          static_cast<uint8_t>(level * kLevelStep);
    }
    t.rounded[static_cast<size_t>(v)] =
        static_cast<uint8_t>((v + kLevelStep / 2) / kLevelStep * kLevelStep);
  }
  return t;
}
constexpr LevelTables kTables = MakeLevelTables();

static_assert(kTables.rounded[8] == 0 && kTables.rounded[9] == 17 && kTables.rounded[255] == 255,
              "rounding matches the filter's own quantiser");
static_assert(kTables.by_threshold[15][34] == 34 && kTables.by_threshold[0][255] == 255,
              "exact levels pass every threshold unchanged");

// Where a pixel's components sit on the panel (dot column, dot row), per pixel column
// parity: an even column c has red on its first dot row at dot 3c/2, green and blue
// on the second at 3c/2 and 3c/2 + 1; an odd column has green and blue on the first
// row at the two dots after its neighbour's red, and red on the second row after its
// neighbour's green and blue.
struct DotPlace {
  int dx;   // added to 3 (c / 2)
  int row;  // 0 first dot row of the picture row, 1 second
};
// Indexed [column parity][component: 0 red, 1 green, 2 blue].
constexpr DotPlace kDots[2][3] = {{{0, 0}, {0, 1}, {1, 1}}, {{2, 1}, {1, 0}, {2, 0}}};

}  // namespace

void ReduceToPanelLevels(uint8_t* pixels, int stride, Dither dither) {
  for (int y = 0; y < kPictureHeight; ++y) {
    uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    if (dither == Dither::kNone) {
      for (int x = 0; x < kPictureWidth; ++x) {
        for (int b = 0; b < 3; ++b) row[4 * x + b] = kTables.rounded[row[4 * x + b]];
      }
      continue;
    }
    for (int x = 0; x < kPictureWidth; ++x) {
      const int base = 3 * (x / 2);
      for (int c = 0; c < 3; ++c) {
        const DotPlace& d = kDots[x & 1][c];
        const int threshold = kBayer[(2 * y + d.row) & 3][(base + d.dx) & 3];
        uint8_t& v = row[4 * x + 2 - c];  // blue, green, red from the low byte up
        v = kTables.by_threshold[static_cast<size_t>(threshold)][v];
      }
    }
  }
}

const char* LevelsModeName(LevelsMode mode) {
  return mode == LevelsMode::kAdaptive ? "adaptive" : "standard";
}

LevelAim EvenAim() {
  LevelAim aim{};
  for (auto& component : aim) {
    for (int n = 0; n < kLevels; ++n) component[static_cast<size_t>(n)] = uint8_t(n * kLevelStep);
  }
  return aim;
}

LevelAim AimAt(const levels::Tables& tables) {
  LevelAim aim{};
  for (int c = 0; c < levels::kComponents; ++c) {
    for (int n = 0; n < kLevels; ++n) {
      aim[static_cast<size_t>(c)][static_cast<size_t>(n)] = levels::ShownValue(tables.level[c][n]);
    }
  }
  return aim;
}

LevelReducer::LevelReducer(const LevelAim& aim, Dither dither) {
  for (size_t c = 0; c < aim.size(); ++c) {
    const auto& shown = aim[c];
    size_t k = 0;  // the last stored value whose shown value is at most v
    for (int v = 0; v < 256; ++v) {
      while (k + 1 < shown.size() && shown[k + 1] <= v) ++k;
      for (int t = 0; t < 16; ++t) {
        size_t n = k;
        if (v > shown[k] && k + 1 < shown.size()) {
          // Past the share of thresholds the distance to the next level gives: the
          // next one. For an even aim of 17 this is ReduceToPanelLevels' rule.
          const int d = v - shown[k], span = shown[k + 1] - shown[k];
          const bool up = dither == Dither::kOrdered ? 32 * d >= (31 - 2 * t) * span : 2 * d > span;
          if (up) ++n;
        }
        by_threshold_[c][static_cast<size_t>(t)][static_cast<size_t>(v)] =
            static_cast<uint8_t>(n * kLevelStep);
      }
    }
  }
}

void LevelReducer::Reduce(uint8_t* pixels, int stride) const {
  for (int y = 0; y < kPictureHeight; ++y) {
    uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < kPictureWidth; ++x) {
      const int base = 3 * (x / 2);
      for (int c = 0; c < 3; ++c) {
        const DotPlace& d = kDots[x & 1][c];
        const int threshold = kBayer[(2 * y + d.row) & 3][(base + d.dx) & 3];
        uint8_t& v = row[4 * x + 2 - c];
        v = by_threshold_[static_cast<size_t>(c)][static_cast<size_t>(threshold)][v];
      }
    }
  }
}

void ShowAtLevels(uint8_t* rgb, size_t count, const levels::Tables& tables) {
  for (size_t i = 0; i < count; ++i) {
    for (int c = 0; c < levels::kComponents; ++c) {
      uint8_t& v = rgb[3 * i + static_cast<size_t>(c)];
      v = levels::ShownValue(tables.level[c][(v + kLevelStep / 2) / kLevelStep]);
    }
  }
}

}  // namespace trackloom::cli

#include "cli/pictures/level_choice.h"

#include <algorithm>
#include <cstddef>

namespace trackloom::cli {

namespace {

constexpr int kCandidates = levels::kPanelLevels;
constexpr int kChosen = levels::kEntries;

// The squared error of every value reduced towards one component's candidates,
// weighted by how often it occurs: below the lowest level chosen, between two chosen
// in turn, above the highest.
struct Costs {
  double below[kCandidates] = {};
  double above[kCandidates] = {};
  double between[kCandidates][kCandidates] = {};
};

Costs ComponentCosts(const std::array<uint64_t, 256>& counts, Dither dither) {
  // A trace of every value, so that the levels a component's pictures leave unused
  // still spread over its whole range rather than anywhere at no cost.
  uint64_t total = 0;
  for (uint64_t c : counts) total += c;
  const double trace = 1e-7 * static_cast<double>(std::max<uint64_t>(total, 1));
  double weight[256];
  for (int v = 0; v < 256; ++v) weight[v] = static_cast<double>(counts[size_t(v)]) + trace;
  Costs costs;
  for (int a = 0; a < kCandidates; ++a) {
    const int sa = levels::ShownValue(a);
    for (int v = 0; v < 256; ++v) {
      const double d = v - sa;
      (v < sa ? costs.below[a] : costs.above[a]) += weight[v] * d * d;
    }
    for (int b = a + 1; b < kCandidates; ++b) {
      const int sb = levels::ShownValue(b);
      double sum = 0;
      for (int v = sa + 1; v < sb; ++v) {
        const double low = v - sa, high = sb - v;
        sum += weight[v] * (dither == Dither::kOrdered ? low * high
                                                       : std::min(low, high) * std::min(low, high));
      }
      costs.between[a][b] = sum;
    }
  }
  return costs;
}

// The least cost choice of kChosen candidates, in order, by dynamic programming:
// best[k][b] is the least cost of values up to candidate b with k + 1 levels chosen,
// the last of them b.
void ChooseComponent(const Costs& costs, uint8_t* levels_out) {
  double best[kChosen][kCandidates];
  int from[kChosen][kCandidates] = {};
  for (int b = 0; b < kCandidates; ++b) best[0][b] = costs.below[b];
  for (int k = 1; k < kChosen; ++k) {
    for (int b = 0; b < kCandidates; ++b) {
      best[k][b] = 1e300;
      for (int a = k - 1; a < b; ++a) {
        const double cost = best[k - 1][a] + costs.between[a][b];
        if (cost < best[k][b]) best[k][b] = cost, from[k][b] = a;
      }
    }
  }
  int last = kChosen - 1;
  for (int b = kChosen - 1; b < kCandidates; ++b) {
    if (best[kChosen - 1][b] + costs.above[b] < best[kChosen - 1][last] + costs.above[last]) {
      last = b;
    }
  }
  for (int k = kChosen - 1; k >= 0; --k) {
    levels_out[k] = static_cast<uint8_t>(last);
    last = from[k][last];
  }
}

}  // namespace

void LevelHistograms::Add(const uint8_t* pixels, int stride) {
  for (int y = 0; y < kPictureHeight; ++y) {
    const uint8_t* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < kPictureWidth; ++x) {
      for (size_t c = 0; c < levels::kComponents; ++c) ++counts_[c][row[4 * x + 2 - int(c)]];
    }
  }
}

levels::Tables ChooseTables(const LevelHistograms& histograms, Dither dither) {
  levels::Tables tables{};
  for (int c = 0; c < levels::kComponents; ++c) {
    ChooseComponent(ComponentCosts(histograms.counts()[size_t(c)], dither), tables.level[c]);
  }
  return tables;
}

}  // namespace trackloom::cli

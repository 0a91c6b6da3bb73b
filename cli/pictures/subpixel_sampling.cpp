#include "cli/pictures/subpixel_sampling.h"

#include <algorithm>
#include <cstddef>

namespace trackloom::cli {

namespace {

// Across the cells around a dot, centred on the boundary between its two cells.
constexpr int kTaps = 4;
constexpr int kWeights[kTaps] = {1, 2, 2, 1};
constexpr int kWeightSum = 6 * kCellsPerRow;

// Byte of a component in a 32-bit pixel: blue, green, red from the low byte up.
constexpr int ByteOf(int component) { return 2 - component; }

}  // namespace

bool ParseSampling(const std::string& text, Sampling& sampling) {
  if (text == "pixel") {
    sampling = Sampling::kPixel;
  } else if (text == "subpixel") {
    sampling = Sampling::kSubpixel;
  } else {
    return false;
  }
  return true;
}

ComponentDot DotOfComponent(int column, int component) {
  // Four components of a column pair c, c + 1 on the first dot row, R(c) G(c+1)
  // B(c+1), and on the second G(c) B(c) R(c+1), three dots a pair and row.
  constexpr int kRow[2][3] = {{0, 1, 1}, {1, 0, 0}};
  constexpr int kDot[2][3] = {{0, 0, 1}, {2, 1, 2}};
  const int parity = column & 1;
  const int dot = 3 * (column / 2) + kDot[parity][component];
  const int row = kRow[parity][component];
  // The second dot row sits half a dot, one cell, to the left.
  return {row, 2 * dot - row};
}

void SampleSubpixels(const uint8_t* cells, int cell_stride, uint8_t* pixels, int stride) {
  for (int y = 0; y < kPictureHeight; ++y) {
    const uint8_t* rows[kCellsPerRow];
    for (int r = 0; r < kCellsPerRow; ++r)
      rows[r] = cells + static_cast<std::ptrdiff_t>(kCellsPerRow * y + r) * cell_stride;
    uint8_t* out = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < kPictureWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int first = DotOfComponent(x, c).first_cell - 1;
        int sum = 0;
        for (int t = 0; t < kTaps; ++t) {
          // Cells past the picture's sides repeat its edge.
          const int cell = std::clamp(first + t, 0, kCellWidth - 1);
          for (const uint8_t* row : rows) sum += kWeights[t] * row[4 * cell + ByteOf(c)];
        }
        out[4 * x + ByteOf(c)] = static_cast<uint8_t>((sum + kWeightSum / 2) / kWeightSum);
      }
      out[4 * x + 3] = 255;
    }
  }
}

}  // namespace trackloom::cli

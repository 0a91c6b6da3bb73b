#include "cli/pictures/subpixel_sampling.h"

#include <algorithm>
#include <array>
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
  // Where each component's four cells start, with the cells past the picture's sides
  // repeating its edge; the same for every row.
  static const std::array<std::array<int, kTaps>, 3 * kPictureWidth> kTapCells = [] {
    std::array<std::array<int, kTaps>, kPictureWidth * 3> taps{};
    for (int x = 0; x < kPictureWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int first = DotOfComponent(x, c).first_cell - 1;
        for (int t = 0; t < kTaps; ++t)
          taps[static_cast<size_t>(3 * x + c)][static_cast<size_t>(t)] =
              4 * std::clamp(first + t, 0, kCellWidth - 1) + ByteOf(c);
      }
    }
    return taps;
  }();
  std::array<uint16_t, kCellWidth * 4> both{};  // the two dot rows of a pixel row, added
  for (int y = 0; y < kPictureHeight; ++y) {
    const uint8_t* first_row = cells + static_cast<std::ptrdiff_t>(kCellsPerRow * y) * cell_stride;
    const uint8_t* second_row = first_row + cell_stride;
    for (size_t i = 0; i < both.size(); ++i)
      both[i] = static_cast<uint16_t>(first_row[i] + second_row[i]);
    uint8_t* out = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < kPictureWidth; ++x) {
      for (int c = 0; c < 3; ++c) {
        const std::array<int, kTaps>& at = kTapCells[static_cast<size_t>(3 * x + c)];
        int sum = kWeightSum / 2;
        for (int t = 0; t < kTaps; ++t) sum += kWeights[t] * both[static_cast<size_t>(at[t])];
        out[4 * x + ByteOf(c)] = static_cast<uint8_t>(sum / kWeightSum);
      }
      out[4 * x + 3] = 255;
    }
  }
}

}  // namespace trackloom::cli

// How a stored pixel's three components are taken from the source. The panel shows
// them on three different dots (panel_view.h), so each can be sampled where its own
// dot sits rather than at the pixel's centre: about one and a half times the
// horizontal detail for edges and text, with no change to the track format.
#pragma once

#include <cstdint>

#include "core/track_format.h"

namespace trackloom::cli {

enum class Sampling {
  kPixel,     // all three components from the area of the whole pixel
  kSubpixel,  // each component from around the dot it is shown on
};

// Subpixel sampling starts from the picture on a grid of half-dot cells: three
// across a stored column (each dot is two cells wide, and odd dot rows sit one cell
// to the left) and two down a stored row (one a dot row).
inline constexpr int kCellsPerColumn = 3;
inline constexpr int kCellsPerRow = 2;
inline constexpr int kCellWidth = kPictureWidth * kCellsPerColumn;  // 432
inline constexpr int kCellHeight = kPictureHeight * kCellsPerRow;   // 160

// Where component (0 red, 1 green, 2 blue) of stored column `column` is shown: its
// dot row within the pixel's two (0 or 1) and the first of the two cells its dot
// covers, as the frame block orders the components.
struct ComponentDot {
  int row;
  int first_cell;
};
ComponentDot DotOfComponent(int column, int component);

// Makes the 144 x 80 picture (32-bit pixels, blue in the low byte, `stride` bytes a
// row) from the 432 x 160 cells (the same pixel layout, `cell_stride` bytes a row):
// each component is the mean of the cells of both dot rows of its pixel, weighted
// 1 2 2 1 across the four cells centred on its dot. That footprint is as wide as a
// pixel, so a component's neighbours on the panel overlap it as the pixels' own
// components do, and a black and white edge shows no more colour than it does when
// sampled a pixel at a time.
void SampleSubpixels(const uint8_t* cells, int cell_stride, uint8_t* pixels, int stride);

}  // namespace trackloom::cli

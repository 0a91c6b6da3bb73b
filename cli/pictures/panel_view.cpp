#include "cli/pictures/panel_view.h"

#include <algorithm>
#include <vector>

#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr int kPictureColumns = kPictureWidth;
constexpr int kPictureRows = kPictureHeight;

}  // namespace

void RenderPanel(const uint8_t* rgb, uint8_t* panel) {
  for (int y = 0; y < kPanelHeight; ++y) {
    const bool odd = (y % 2) == 1;
    const uint8_t* picture_row = rgb + (y / 2) * kPictureColumns * 3;
    uint8_t* out = panel + y * kPanelWidth * 3;
    for (int x = 0; x < kPanelWidth; ++x) {
      const int component = (x + (odd ? 1 : 0)) % 3;  // 0 red, 1 green, 2 blue
      // Every three dots of a row cover two pixels: on even rows the first dot
      // belongs to the left pixel, on odd rows the first two do.
      const int step = x % 3;
      const bool right = odd ? step == 2 : step != 0;
      const int column = 2 * (x / 3) + (right ? 1 : 0);
      const uint8_t value = picture_row[column * 3 + component];
      out[x * 3 + 0] = component == 0 ? value : 0;
      out[x * 3 + 1] = component == 1 ? value : 0;
      out[x * 3 + 2] = component == 2 ? value : 0;
    }
  }
}

PictureRect PanelDisplaySize(int scale) {
  return {0, 0, kPanelWidth * scale,
          kPanelWidth * scale * kDisplayShapeHeight / kDisplayShapeWidth};
}

PictureRect FitDisplayShape(int width, int height) {
  PictureRect r;
  if (static_cast<long long>(width) * kDisplayShapeHeight <=
      static_cast<long long>(height) * kDisplayShapeWidth) {
    r.width = width;
    r.height = width * kDisplayShapeHeight / kDisplayShapeWidth;
  } else {
    r.height = height;
    r.width = height * kDisplayShapeWidth / kDisplayShapeHeight;
  }
  r.x = (width - r.width) / 2;
  r.y = (height - r.height) / 2;
  return r;
}

void ScalePanel(const uint8_t* panel, int width, int height, uint8_t* out) {
  // Output column x covers the dot grid at (2x + 1) / 2 of a column's width; an odd
  // row's dot i spans [i - 1/2, i + 1/2), found in half dots.
  std::vector<int> even_x(static_cast<size_t>(std::max(width, 0)));
  std::vector<int> odd_x(even_x.size());
  for (int x = 0; x < width; ++x) {
    const int half_dots = (2 * x + 1) * 2 * kPanelWidth / (2 * width);
    even_x[static_cast<size_t>(x)] = half_dots / 2;
    odd_x[static_cast<size_t>(x)] = (half_dots + 1) / 2;
  }
  for (int y = 0; y < height; ++y) {
    const int sy = (2 * y + 1) * kPanelHeight / (2 * height);
    const uint8_t* row = panel + sy * kPanelWidth * 3;
    const std::vector<int>& source_x = sy % 2 == 1 ? odd_x : even_x;
    uint8_t* o = out + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
    for (int x = 0; x < width; ++x) {
      const int dx = source_x[static_cast<size_t>(x)];
      if (dx >= kPanelWidth) {
        o[0] = o[1] = o[2] = 0;
      } else {
        const uint8_t* dot = row + dx * 3;
        o[0] = dot[0];
        o[1] = dot[1];
        o[2] = dot[2];
      }
      o += 3;
    }
  }
}

PictureRect ViewDisplaySize(View view, int scale) {
  if (view == View::kPanel) return PanelDisplaySize(2 * scale);
  return {0, 0, kPictureColumns * scale,
          kPictureColumns * scale * kDisplayShapeHeight / kDisplayShapeWidth};
}

void RenderView(View view, const uint8_t* rgb, int width, int height, uint8_t* out) {
  if (view == View::kPanel) {
    std::vector<uint8_t> panel(kPanelImageSize);
    RenderPanel(rgb, panel.data());
    ScalePanel(panel.data(), width, height, out);
    return;
  }
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = rgb + (2 * y + 1) * kPictureRows / (2 * height) * kPictureColumns * 3;
    uint8_t* o = out + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
    for (int x = 0; x < width; ++x) {
      const uint8_t* pixel = row + (2 * x + 1) * kPictureColumns / (2 * width) * 3;
      o[0] = pixel[0];
      o[1] = pixel[1];
      o[2] = pixel[2];
      o += 3;
    }
  }
}

}  // namespace trackloom::cli

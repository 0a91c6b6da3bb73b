#include "cli/ffmpeg/picture_shaping.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/pictures/panel_view.h"  // the 4:3 display shape
#include "core/track_format.h"

namespace trackloom::cli::ffmpeg {

bool ParseFit(const std::string& text, Fit& fit) {
  if (text == "letterbox") {
    fit = Fit::kLetterbox;
  } else if (text == "crop") {
    fit = Fit::kCrop;
  } else if (text == "stretch") {
    fit = Fit::kStretch;
  } else {
    return false;
  }
  return true;
}

FitGeometry ComputeFitGeometry(Fit fit, int width, int height, int sar_num, int sar_den) {
  FitGeometry g{kPictureWidth, kPictureHeight, 0, 0};
  if (fit == Fit::kStretch || width <= 0 || height <= 0) return g;
  if (sar_num <= 0 || sar_den <= 0) sar_num = sar_den = 1;
  // Shapes are compared as exact cross products, so a 4:3 picture is neither padded
  // nor cropped by a rounding accident.
  const int64_t display_w = int64_t{width} * sar_num;
  const int64_t display_h = int64_t{height} * sar_den;
  const bool wider = display_w * kDisplayShapeHeight > display_h * kDisplayShapeWidth;
  const bool taller = display_w * kDisplayShapeHeight < display_h * kDisplayShapeWidth;
  auto scaled = [](int64_t num, int64_t den) {
    return static_cast<int>(std::max<int64_t>(1, (2 * num + den) / (2 * den)));
  };
  // The full 144 stored columns show 4 units wide and the 80 rows 3 units high.
  const int height_for_width = scaled(int64_t{kPictureHeight} * kDisplayShapeWidth * display_h,
                                      int64_t{kDisplayShapeHeight} * display_w);
  const int width_for_height = scaled(int64_t{kPictureWidth} * kDisplayShapeHeight * display_w,
                                      int64_t{kDisplayShapeWidth} * display_h);
  if (fit == Fit::kLetterbox && wider) {
    g.scaled_height = std::min(height_for_width, kPictureHeight);
  } else if (fit == Fit::kLetterbox && taller) {
    g.scaled_width = std::min(width_for_height, kPictureWidth);
  } else if (fit == Fit::kCrop && wider) {
    g.scaled_width = std::max(width_for_height, kPictureWidth);
  } else if (fit == Fit::kCrop && taller) {
    g.scaled_height = std::max(height_for_width, kPictureHeight);
  }
  g.offset_x = std::abs(kPictureWidth - g.scaled_width) / 2;
  g.offset_y = std::abs(kPictureHeight - g.scaled_height) / 2;
  return g;
}

std::string BuildFilterChain(Fit fit, int width, int height, int sar_num, int sar_den,
                             Orientation orientation, const std::string& to_bgra, Sampling sampling,
                             int64_t start_frame) {
  const bool sideways = orientation.quarter_turns % 2 == 1;
  // The sample aspect ratio belongs to the stored picture: turned, its inverse.
  const FitGeometry g = sideways ? ComputeFitGeometry(fit, height, width, sar_den, sar_num)
                                 : ComputeFitGeometry(fit, width, height, sar_num, sar_den);
  // Subpixel sampling works on cells, a whole number of them a stored pixel, so the
  // placement is the same as on stored pixels.
  const bool cells = sampling == Sampling::kSubpixel;
  const int across = cells ? kCellsPerColumn : 1;
  const int down = cells ? kCellsPerRow : 1;
  const int scaled_width = g.scaled_width * across;
  const int scaled_height = g.scaled_height * down;
  // fps first, so frames that are dropped are never scaled; start_time=0 makes the
  // first output frame the one at the video's start, whatever its timestamp. The
  // picture is turned after scaling, where it is smallest.
  char start[32] = "0";
  if (start_frame > 0)
    std::snprintf(start, sizeof start, "%.9f", static_cast<double>(start_frame) / kFramesPerSecond);
  std::string chain = "fps=" + std::to_string(kFramesPerSecond) + ":start_time=" + start +
                      ",scale=" + std::to_string(sideways ? scaled_height : scaled_width) + ":" +
                      std::to_string(sideways ? scaled_width : scaled_height) + ":flags=area," +
                      to_bgra;
  chain += OrientationFilters(orientation);
  const bool resized = g.scaled_width != kPictureWidth || g.scaled_height != kPictureHeight;
  const std::string place =
      std::to_string(kPictureWidth * across) + ":" + std::to_string(kPictureHeight * down) + ":" +
      std::to_string(g.offset_x * across) + ":" + std::to_string(g.offset_y * down);
  if (resized && fit == Fit::kLetterbox) {
    chain += ",pad=" + place + ":black";
  } else if (resized && fit == Fit::kCrop) {
    chain += ",crop=" + place;
  }
  return chain + ",setsar=1";
}

namespace {

// "16:9", "4:3", "2.39:1", "9:16": the usual name of a display shape.
std::string ShapeName(double ratio) {
  static const struct {
    int w, h;
  } kNamed[] = {{1, 1}, {5, 4}, {4, 3}, {3, 2}, {16, 10}, {5, 3}, {16, 9}, {2, 1}, {21, 9}};
  for (const auto& n : kNamed) {
    for (int flip = 0; flip < 2; ++flip) {
      const int w = flip ? n.h : n.w;
      const int h = flip ? n.w : n.h;
      if (std::fabs(ratio / (double{1} * w / h) - 1) < 0.01)
        return std::to_string(w) + ":" + std::to_string(h);
    }
  }
  char text[32];
  if (ratio >= 1) {
    std::snprintf(text, sizeof text, "%.2f:1", ratio);
  } else {
    std::snprintf(text, sizeof text, "1:%.2f", 1 / ratio);
  }
  return text;
}

}  // namespace

std::string DescribeShaping(Fit fit, int width, int height, int sar_num, int sar_den,
                            Orientation orientation) {
  if (sar_num <= 0 || sar_den <= 0) sar_num = sar_den = 1;
  const bool sideways = orientation.quarter_turns % 2 == 1;
  const double ratio = sideways ? double{1} * height * sar_den / (double{1} * width * sar_num)
                                : double{1} * width * sar_num / (double{1} * height * sar_den);
  const std::string text = ShapeName(ratio) + " picture" + DescribeOrientation(orientation);
  const FitGeometry g = sideways ? ComputeFitGeometry(fit, height, width, sar_den, sar_num)
                                 : ComputeFitGeometry(fit, width, height, sar_num, sar_den);
  const bool same = g.scaled_width == kPictureWidth && g.scaled_height == kPictureHeight;
  if (fit == Fit::kStretch) return text + " stretched to 144 x 80";
  if (same) return text + " fills the 4:3 screen";
  if (fit == Fit::kCrop) return text + " cropped to fill the 4:3 screen";
  return text + " letterboxed into the 4:3 screen";
}

}  // namespace trackloom::cli::ffmpeg

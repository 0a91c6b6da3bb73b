#include "cli/ffmpeg/orientation.h"

#include <cmath>

extern "C" {
#include <libavutil/display.h>
}

namespace trackloom::cli::ffmpeg {

Orientation OrientationFromDisplayMatrix(const int32_t* matrix) {
  Orientation o;
  if (matrix == nullptr) return o;
  // A negative determinant swaps left and right. Such a matrix is a turn followed by
  // a horizontal mirror; negating its first column undoes the mirror and leaves the
  // turn, which is then read as any other (a mirror alone would read as a half turn).
  const double determinant =
      static_cast<double>(matrix[0]) * matrix[4] - static_cast<double>(matrix[1]) * matrix[3];
  int32_t turn[9];
  for (int i = 0; i < 9; ++i) turn[i] = matrix[i];
  o.mirrored = determinant < 0;
  if (o.mirrored) av_display_matrix_flip(turn, 1, 0);
  // The matrix holds the counter-clockwise angle.
  const double degrees = -av_display_rotation_get(turn);
  if (std::isnan(degrees)) return Orientation{};
  const long turns = std::lround(degrees / 90);
  o.quarter_turns = static_cast<int>(((turns % 4) + 4) % 4);
  return o;
}

std::string OrientationFilters(Orientation orientation) {
  // A turn and then a mirror, each as one filter: a quarter turn mirrored is a
  // transposition about one of the diagonals.
  static const char* const kTurned[4] = {"", ",transpose=clock", ",hflip,vflip",
                                         ",transpose=cclock"};
  static const char* const kMirrored[4] = {",hflip", ",transpose=cclock_flip", ",vflip",
                                           ",transpose=clock_flip"};
  const int turns = orientation.quarter_turns & 3;
  return orientation.mirrored ? kMirrored[turns] : kTurned[turns];
}

std::string DescribeOrientation(Orientation orientation) {
  static const char* const kTurned[4] = {"", "turned clockwise", "turned upside down",
                                         "turned anticlockwise"};
  const std::string turned = kTurned[orientation.quarter_turns & 3];
  if (!orientation.mirrored) return turned.empty() ? "" : " (" + turned + ")";
  return turned.empty() ? " (mirrored)" : " (" + turned + " and mirrored)";
}

}  // namespace trackloom::cli::ffmpeg

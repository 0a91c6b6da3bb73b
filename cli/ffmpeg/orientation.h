// How a picture is to be shown, as its display matrix (a phone's rotation, a front
// camera's mirror, a photo's EXIF orientation) asks: turned in quarter turns and
// possibly mirrored.
#pragma once

#include <cstdint>
#include <string>

namespace trackloom::cli::ffmpeg {

struct Orientation {
  int quarter_turns = 0;  // clockwise, 0-3
  bool mirrored = false;  // left and right swapped, after the turn
};

// The orientation a display matrix (FFmpeg's 3 x 3, 16.16 fixed point) asks for,
// rounded to quarter turns; none for a missing or degenerate matrix.
Orientation OrientationFromDisplayMatrix(const int32_t* matrix);

// The filters that show a picture so, as FFmpeg's filter syntax with a leading comma;
// empty when it is shown as stored.
std::string OrientationFilters(Orientation orientation);

// " (turned clockwise)", " (mirrored)", " (turned upside down and mirrored)", or empty.
std::string DescribeOrientation(Orientation orientation);

}  // namespace trackloom::cli::ffmpeg

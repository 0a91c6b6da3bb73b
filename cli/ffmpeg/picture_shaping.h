// How a picture of any shape is fitted into the player's 4:3 screen of 144 x 80
// stored pixels: the geometry, the filter chain that does it, and its summary line.
#pragma once

#include <cstdint>
#include <string>

#include "cli/ffmpeg/orientation.h"
#include "cli/pictures/subpixel_sampling.h"

namespace trackloom::cli::ffmpeg {

enum class Fit {
  kLetterbox,  // the whole picture in the 4:3 screen, black bands where the shapes differ
  kCrop,       // fill the 4:3 screen, cutting the edges that do not fit
  kStretch,    // fill 144 x 80, distorting the picture
};

// Parses "letterbox", "crop" or "stretch"; false for anything else.
bool ParseFit(const std::string& text, Fit& fit);

// The scale size and the pad or crop placement that fit a picture whose display shape
// is width x height pixels of sar_num:sar_den (as shown, after any rotation) into the
// 4:3 screen of 144 x 80 stored pixels.
struct FitGeometry {
  int scaled_width;
  int scaled_height;
  int offset_x;  // pad: where the picture goes; crop: where the cut starts
  int offset_y;
};
FitGeometry ComputeFitGeometry(Fit fit, int width, int height, int sar_num, int sar_den);

// The filter chain between the decoder and the sink, as FFmpeg's filter syntax
// (also what the benchmark hands to the ffmpeg command for the same work). width,
// height and the sample aspect ratio are the decoded picture's, before turning;
// to_bgra takes the scaled picture to BGRA (converting its colours where need be).
// For subpixel sampling the picture is made on the 432 x 160 half-dot cells instead,
// in the same placement, for SampleSubpixels to finish. The first output frame is
// frame start_frame of the 18 fps timeline (a look at one moment starts late).
std::string BuildFilterChain(Fit fit, int width, int height, int sar_num, int sar_den,
                             Orientation orientation = {},
                             const std::string& to_bgra = "format=bgra",
                             Sampling sampling = Sampling::kPixel, int64_t start_frame = 0);

// One line for the summary, e.g. "16:9 picture letterboxed into the 4:3 screen".
std::string DescribeShaping(Fit fit, int width, int height, int sar_num, int sar_den,
                            Orientation orientation);

}  // namespace trackloom::cli::ffmpeg

// One moment of a video as the player will show it, made by the same picture path
// the encode takes (the input's shaping, dithering and sampling, then the panel):
// the panel's dots and the stored pixels side by side, for the studio's preview.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/ffmpeg/video_source.h"

namespace trackloom::cli::studio {

struct StillPreview {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // width x height x 3, top row first
  double shown_seconds = 0;  // the time of the picture shown, from the input's start
};

// A picture the encode hands the filter (BGRA), as the RGB record the panel views are
// drawn from: at the levels the player shows.
std::vector<uint8_t> RecordRgb(const ffmpeg::Picture& picture);
// The preview of a record: the panel's dots and the stored pixels side by side; a
// dark frame when record is empty.
StillPreview ComposePreview(const std::vector<uint8_t>& record, double shown_seconds);

// The picture shown at seconds (the last one when seconds is past the end). Throws
// CliError when the input cannot be read.
StillPreview RenderStillPreview(const std::string& input, const ffmpeg::PictureOptions& options,
                                double seconds);

// What the studio tells about a video it was given: how long it plays and where its
// chapters start. seconds is 0 for a still picture (it lasts as long as its sound).
struct VideoFacts {
  double seconds = 0;
  bool still = false;
  int width = 0;
  int height = 0;
  std::vector<double> chapters;
};
VideoFacts ReadVideoFacts(const std::string& input);

}  // namespace trackloom::cli::studio

// Pictures recorded in high dynamic range (HLG, what most phones record, or PQ, as
// HDR10) or in BT.2020's wider colours, brought to the BT.709 SDR picture the player
// shows. Left as they are, they come out dim and washed out.
#pragma once

#include <string>

struct AVFrame;
struct AVCodecParameters;

namespace trackloom::cli::ffmpeg {

enum class ColourKind {
  kSdr,      // BT.709 or alike: nothing to do
  kSdr2020,  // SDR in BT.2020 primaries: only the primaries change
  kHlg,
  kPq,
};

// What a picture's colour needs, with what zscale must be told of its input.
struct ColourSource {
  ColourKind kind = ColourKind::kSdr;
  int transfer = 0;   // AVColorTransferCharacteristic
  int matrix = 0;     // AVColorSpace
  int primaries = 0;  // AVColorPrimaries
  bool full_range = false;
  bool rgb = false;      // stored as RGB rather than YUV
  double peak_nits = 0;  // the brightest the picture holds, as its metadata says
};

ColourSource ColourOfStream(const AVCodecParameters& stream);
// From the decoded picture, which is what counts; what it leaves unsaid is taken
// from the stream's.
ColourSource ColourOfFrame(const AVFrame& frame, const ColourSource& stream);

// The filters that take the scaled picture to 8-bit BGRA, as FFmpeg's filter syntax
// without a leading comma: format=bgra for SDR.
std::string ColourFilters(const ColourSource& colour);

// For the summary: "HDR (HLG) converted to SDR", or empty.
std::string DescribeColour(const ColourSource& colour);

}  // namespace trackloom::cli::ffmpeg

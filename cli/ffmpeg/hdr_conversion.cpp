#include "cli/ffmpeg/hdr_conversion.h"

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavcodec/codec_par.h>
#include <libavutil/frame.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

namespace trackloom::cli::ffmpeg {
namespace {

// HDR's reference white (ITU-R BT.2408): the white of paper or a wall, which SDR
// shows as its own white. Brighter is highlight.
constexpr double kReferenceWhiteNits = 203;
// What a picture without metadata is taken to reach: the display HLG is graded on,
// and what most HDR10 films are mastered to.
constexpr double kDefaultPeakNits = 1000;

ColourKind KindOf(int transfer, int primaries) {
  if (transfer == AVCOL_TRC_ARIB_STD_B67) return ColourKind::kHlg;
  if (transfer == AVCOL_TRC_SMPTE2084) return ColourKind::kPq;
  return primaries == AVCOL_PRI_BT2020 ? ColourKind::kSdr2020 : ColourKind::kSdr;
}

// Only what zscale converts from; anything else as HDR is recorded.
int KnownMatrix(int matrix) {
  switch (matrix) {
    case AVCOL_SPC_BT709:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
      return matrix;
    default:
      return AVCOL_SPC_BT2020_NCL;
  }
}

ColourSource Make(int transfer, int primaries, int matrix, int range) {
  ColourSource c;
  c.kind = KindOf(transfer, primaries);
  c.transfer = transfer;
  c.matrix = matrix;
  c.primaries = primaries;
  c.full_range = range == AVCOL_RANGE_JPEG;
  return c;
}

double PeakNits(const AVFrame& frame) {
  if (const AVFrameSideData* d =
          av_frame_get_side_data(&frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL)) {
    const auto* light = reinterpret_cast<const AVContentLightMetadata*>(d->data);
    if (light->MaxCLL > 0) return light->MaxCLL;
  }
  if (const AVFrameSideData* d =
          av_frame_get_side_data(&frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA)) {
    const auto* mastering = reinterpret_cast<const AVMasteringDisplayMetadata*>(d->data);
    if (mastering->has_luminance && mastering->max_luminance.den > 0)
      return av_q2d(mastering->max_luminance);
  }
  return 0;
}

}  // namespace

ColourSource ColourOfStream(const AVCodecParameters& stream) {
  ColourSource c =
      Make(stream.color_trc, stream.color_primaries, stream.color_space, stream.color_range);
  const AVPixFmtDescriptor* pixels = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(stream.format));
  c.rgb = pixels != nullptr && (pixels->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  return c;
}

ColourSource ColourOfFrame(const AVFrame& frame, const ColourSource& stream) {
  const auto given = [](int value, int unspecified, int fallback) {
    return value == unspecified ? fallback : value;
  };
  ColourSource c = Make(given(frame.color_trc, AVCOL_TRC_UNSPECIFIED, stream.transfer),
                        given(frame.color_primaries, AVCOL_PRI_UNSPECIFIED, stream.primaries),
                        given(frame.colorspace, AVCOL_SPC_UNSPECIFIED, stream.matrix),
                        frame.color_range == AVCOL_RANGE_UNSPECIFIED
                            ? (stream.full_range ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG)
                            : frame.color_range);
  const AVPixFmtDescriptor* pixels = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  c.rgb = pixels != nullptr && (pixels->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  c.peak_nits = PeakNits(frame);
  return c;
}

std::string ColourFilters(const ColourSource& colour) {
  if (colour.kind == ColourKind::kSdr) return "format=bgra";
  // The picture is already scaled down: converting 144 x 80 pixels in floating point
  // costs nothing. The scaler keeps the signal as it is (in full chroma) and zscale,
  // told what it is, takes it to linear light in BT.709 primaries.
  // SDR in BT.2020 is coded as BT.709 video unless it says otherwise.
  const int t = colour.transfer;
  const bool sdr_transfer = t == AVCOL_TRC_BT709 || t == AVCOL_TRC_SMPTE170M ||
                            t == AVCOL_TRC_BT2020_10 || t == AVCOL_TRC_BT2020_12;
  const int transfer = colour.kind == ColourKind::kSdr2020 && !sdr_transfer ? AVCOL_TRC_BT709 : t;
  const int primaries = colour.primaries == AVCOL_PRI_BT709 ? AVCOL_PRI_BT709 : AVCOL_PRI_BT2020;
  char input[160];
  std::snprintf(input, sizeof input, "%s,zscale=min=%s:tin=%d:pin=%d:rin=%s",
                colour.rgb ? "format=gbrpf32le" : "format=yuv444p16le",
                colour.rgb ? "gbr" : std::to_string(KnownMatrix(colour.matrix)).c_str(), transfer,
                primaries, colour.full_range ? "full" : "limited");
  if (colour.kind == ColourKind::kSdr2020) {
    return std::string(input) + ":p=709:t=709:m=709,format=gbrp,format=bgra";
  }
  // Linear 1.0 is reference white; highlights up to the picture's peak are
  // compressed into the top of SDR (the mobius curve leaves what is below 0.8 of
  // white as it is), and the result is coded as BT.709 video.
  const double peak_nits =
      std::clamp(colour.peak_nits > 0 ? colour.peak_nits : kDefaultPeakNits, 250.0, 10000.0);
  char rest[200];
  std::snprintf(rest, sizeof rest,
                ":t=linear:p=709:npl=%g,format=gbrpf32le,tonemap=mobius:param=0.8:peak=%.3f:"
                "desat=0,zscale=t=709:p=709,format=gbrp,format=bgra",
                kReferenceWhiteNits, peak_nits / kReferenceWhiteNits);
  return std::string(input) + rest;
}

std::string DescribeColour(const ColourSource& colour) {
  switch (colour.kind) {
    case ColourKind::kHlg:
      return "HDR (HLG) converted to SDR";
    case ColourKind::kPq:
      return "HDR (PQ) converted to SDR";
    case ColourKind::kSdr2020:
      return "BT.2020 colours converted to BT.709";
    default:
      return "";
  }
}

}  // namespace trackloom::cli::ffmpeg

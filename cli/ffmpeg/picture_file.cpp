#include "cli/ffmpeg/picture_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "cli/common/cli_error.h"
#include "cli/common/output_file.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/encoder.h"
#include "cli/pictures/png_writer.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace trackloom::cli::ffmpeg {
namespace {

struct PictureFormat {
  const char* extension;
  const char* encoder;  // null: libpng
  AVPixelFormat pixels;
};

// Full chroma and full range for JPEG: a sheet's pictures are small, and halved colour
// would smear every pixel's colour into its neighbours. WebP is written lossless for
// the same reason.
constexpr PictureFormat kFormats[] = {
    {"png", nullptr, AV_PIX_FMT_RGB24},    {"jpg", "mjpeg", AV_PIX_FMT_YUV444P},
    {"jpeg", "mjpeg", AV_PIX_FMT_YUV444P}, {"bmp", "bmp", AV_PIX_FMT_BGR24},
    {"tif", "tiff", AV_PIX_FMT_RGB24},     {"tiff", "tiff", AV_PIX_FMT_RGB24},
    {"webp", "libwebp", AV_PIX_FMT_RGB32}, {"ppm", "ppm", AV_PIX_FMT_RGB24},
};

bool Available(const PictureFormat& f) {
  return f.encoder == nullptr || avcodec_find_encoder_by_name(f.encoder) != nullptr;
}

const PictureFormat* FormatOf(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return nullptr;
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const PictureFormat& f : kFormats) {
    if (extension == f.extension && Available(f)) return &f;
  }
  return nullptr;
}

// FFmpeg's error r, if it is one, as the encoder's failure.
void Check(int r, const std::string& failure) {
  if (r < 0) throw CliError(failure + ": " + AvErrorText(r));
}

// The picture as codec takes it: in its pixel format, at full range.
FramePtr Converted(const AVCodecContext& codec, const uint8_t* rgb, const std::string& failure) {
  const int width = codec.width, height = codec.height;
  FramePtr frame = MakeFrame();
  frame->width = width;
  frame->height = height;
  frame->format = codec.pix_fmt;
  frame->quality = codec.global_quality;
  frame->color_range = AVCOL_RANGE_JPEG;
  Check(av_frame_get_buffer(frame.get(), 0), failure);
  // The picture copied where libswscale may read past the end of a row.
  FramePtr source = MakeFrame();
  source->width = width;
  source->height = height;
  source->format = AV_PIX_FMT_RGB24;
  Check(av_frame_get_buffer(source.get(), 0), failure);
  av_image_copy_plane(source->data[0], source->linesize[0], rgb, width * 3, width * 3, height);
  const ScalerPtr sws(sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, codec.pix_fmt,
                                     SWS_POINT | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND, nullptr,
                                     nullptr, nullptr));
  if (sws == nullptr) Check(AVERROR(ENOMEM), failure);
  const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
  sws_setColorspaceDetails(sws.get(), coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
  Check(
      sws_scale(sws.get(), source->data, source->linesize, 0, height, frame->data, frame->linesize),
      failure);
  return frame;
}

// One picture through the encoder: the packet of the whole file's bytes. Throws
// CliError.
PacketPtr Encode(const PictureFormat& format, int width, int height, const uint8_t* rgb) {
  const std::string failure = std::string("the ") + format.encoder + " encoder failed";
  Encoder encoder(failure);
  const auto set_up = [&](AVCodecContext& c) {
    c.width = width;
    c.height = height;
    c.pix_fmt = format.pixels;
    c.time_base = AVRational{1, 1};
    c.color_range = AVCOL_RANGE_JPEG;
    // JPEG at quantiser 2: the finest the encoder gives short of lossless.
    c.flags |= AV_CODEC_FLAG_QSCALE;
    c.global_quality = FF_QP2LAMBDA * 2;
    av_opt_set_int(c.priv_data, "lossless", 1, 0);
  };
  Check(encoder.Open(*avcodec_find_encoder_by_name(format.encoder), set_up), failure);
  const FramePtr frame = Converted(encoder.context(), rgb, failure);
  PacketPtr packet = MakePacket();
  bool taken = false;
  const auto take = [&](AVPacket& p) {
    if (!std::exchange(taken, true)) av_packet_move_ref(packet.get(), &p);
  };
  encoder.Send(frame.get(), take);
  encoder.Send(nullptr, take);
  if (!taken) Check(AVERROR_EOF, failure);
  return packet;
}

}  // namespace

std::string PictureFileExtensions() {
  std::string list;
  for (const PictureFormat& f : kFormats) {
    if (Available(f)) list += std::string(list.empty() ? "." : ", .") + f.extension;
  }
  return list;
}

bool PictureFileNameFits(const std::string& path) { return FormatOf(path) != nullptr; }

bool WriteRgbPicture(const std::string& path, int width, int height, const uint8_t* rgb,
                     std::string* error) {
  const PictureFormat* format = FormatOf(path);
  if (format == nullptr) {
    *error = "no picture format goes by that name; use " + PictureFileExtensions();
    return false;
  }
  if (format->encoder == nullptr) return WriteRgbPng(path, width, height, rgb, error);
  PacketPtr packet;
  if (!Attempt([&] { packet = Encode(*format, width, height, rgb); }, error)) return false;
  int open_error = 0;
  std::FILE* file = OpenOutputStream(path, &open_error);
  if (file == nullptr) {
    *error = DescribeWriteError(path, open_error);
    return false;
  }
  const size_t size = static_cast<size_t>(packet->size);
  const bool written = std::fwrite(packet->data, 1, size, file) == size;
  const int write_error = written ? 0 : errno;
  const bool closed = std::fclose(file) == 0;
  if (written && closed) return true;
  *error = DescribeWriteError(path, write_error != 0 ? write_error : errno);
  std::remove(path.c_str());  // no half-written picture is left behind
  return false;
}

}  // namespace trackloom::cli::ffmpeg

#include "cli/ffmpeg/picture_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "cli/common/output_file.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_owners.h"
#include "cli/pictures/png_writer.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
}

namespace trackloom::cli {
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

// One picture through the encoder into packet: the whole file's bytes.
std::string Encode(const PictureFormat& format, int width, int height, const uint8_t* rgb,
                   AVPacket* packet) {
  const AVCodec* codec = avcodec_find_encoder_by_name(format.encoder);
  CodecContextPtr context(avcodec_alloc_context3(codec));
  FramePtr frame = NewFrame();
  // The picture copied where libswscale may read past the end of a row.
  FramePtr source = NewFrame();
  ScalerPtr sws;
  std::string problem;
  int r = context != nullptr && frame != nullptr && source != nullptr ? 0 : AVERROR(ENOMEM);
  if (r >= 0) {
    context->width = width;
    context->height = height;
    context->pix_fmt = format.pixels;
    context->time_base = AVRational{1, 1};
    context->color_range = AVCOL_RANGE_JPEG;
    // JPEG at quantiser 2: the finest the encoder gives short of lossless.
    context->flags |= AV_CODEC_FLAG_QSCALE;
    context->global_quality = FF_QP2LAMBDA * 2;
    av_opt_set_int(context->priv_data, "lossless", 1, 0);
    r = avcodec_open2(context.get(), codec, nullptr);
  }
  if (r >= 0) {
    frame->width = width;
    frame->height = height;
    frame->format = format.pixels;
    frame->quality = context->global_quality;
    frame->color_range = AVCOL_RANGE_JPEG;
    r = av_frame_get_buffer(frame.get(), 0);
  }
  if (r >= 0) {
    source->width = width;
    source->height = height;
    source->format = AV_PIX_FMT_RGB24;
    r = av_frame_get_buffer(source.get(), 0);
  }
  if (r >= 0) {
    av_image_copy_plane(source->data[0], source->linesize[0], rgb, width * 3, width * 3, height);
  }
  if (r >= 0) {
    sws.reset(sws_getContext(width, height, AV_PIX_FMT_RGB24, width, height, format.pixels,
                             SWS_POINT | SWS_FULL_CHR_H_INT | SWS_ACCURATE_RND, nullptr, nullptr,
                             nullptr));
    if (sws == nullptr) r = AVERROR(ENOMEM);
  }
  if (r >= 0) {
    const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
    sws_setColorspaceDetails(sws.get(), coefficients, 1, coefficients, 1, 0, 1 << 16, 1 << 16);
  }
  if (r >= 0) {
    r = sws_scale(sws.get(), source->data, source->linesize, 0, height, frame->data,
                  frame->linesize);
  }
  if (r >= 0) r = avcodec_send_frame(context.get(), frame.get());
  if (r >= 0) r = avcodec_send_frame(context.get(), nullptr);
  if (r >= 0) r = avcodec_receive_packet(context.get(), packet);
  if (r < 0) problem = std::string("the ") + format.encoder + " encoder failed: " + AvErrorText(r);
  return problem;
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
  PacketPtr packet = NewPacket();
  if (packet == nullptr) {
    *error = "out of memory";
    return false;
  }
  *error = Encode(*format, width, height, rgb, packet.get());
  bool ok = error->empty();
  if (ok) {
    int open_error = 0;
    std::FILE* file = OpenOutputStream(path, &open_error);
    if (file == nullptr) {
      *error = DescribeWriteError(path, open_error);
      ok = false;
    } else {
      const size_t size = static_cast<size_t>(packet->size);
      const bool written = std::fwrite(packet->data, 1, size, file) == size;
      const int write_error = written ? 0 : errno;
      const bool closed = std::fclose(file) == 0;
      if (!written || !closed) {
        *error = DescribeWriteError(path, write_error != 0 ? write_error : errno);
        std::remove(path.c_str());  // no half-written picture is left behind
        ok = false;
      }
    }
  }
  return ok;
}

}  // namespace trackloom::cli

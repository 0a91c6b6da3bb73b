#include "cli/ffmpeg/av_versions.h"

#include <algorithm>

#include "cli/ffmpeg/av_owners.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

// Sound is described by AVChannelLayout throughout, which FFmpeg 5.1 introduced.
#if LIBAVUTIL_VERSION_INT < AV_VERSION_INT(57, 24, 100)
#error "trackloom needs FFmpeg 5.1 or later (libavutil 57.24)"
#endif

// AVFrame::duration replaced pkt_duration in libavutil 57.30 (FFmpeg 6.0); FFmpeg 7
// removed the old field.
#define TRACKLOOM_FRAME_DURATION (LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100))
// Stream side data moved to the codec parameters' coded_side_data in libavcodec 60.30
// and libavformat 60.15 (FFmpeg 6.1), which deprecated av_stream_get_side_data.
#define TRACKLOOM_CODED_SIDE_DATA (LIBAVFORMAT_VERSION_INT >= AV_VERSION_INT(60, 15, 100))
// avcodec_get_supported_config (FFmpeg 7.1, libavcodec 61.13) replaced the lists in
// AVCodec, which it deprecated.
#define TRACKLOOM_SUPPORTED_CONFIG (LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(61, 13, 100))

namespace trackloom::cli::ffmpeg {

int64_t FrameDuration(const AVFrame& frame) {
#if TRACKLOOM_FRAME_DURATION
  return std::max<int64_t>(frame.duration, 0);
#else
  return std::max<int64_t>(frame.pkt_duration, 0);
#endif
}

const int32_t* StreamDisplayMatrix(const AVStream& stream) {
#if TRACKLOOM_CODED_SIDE_DATA
  const AVPacketSideData* side =
      av_packet_side_data_get(stream.codecpar->coded_side_data, stream.codecpar->nb_coded_side_data,
                              AV_PKT_DATA_DISPLAYMATRIX);
  if (side == nullptr || side->size < 9 * sizeof(int32_t)) return nullptr;
  return reinterpret_cast<const int32_t*>(side->data);
#else
  size_t size = 0;
  const uint8_t* data = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
  if (data == nullptr || size < 9 * sizeof(int32_t)) return nullptr;
  return reinterpret_cast<const int32_t*>(data);
#endif
}

namespace {

#if TRACKLOOM_SUPPORTED_CONFIG
template <typename T>
std::vector<T> SupportedConfig(const AVCodec& codec, AVCodecConfig config) {
  const void* list = nullptr;
  int count = 0;
  if (avcodec_get_supported_config(nullptr, &codec, config, 0, &list, &count) < 0 ||
      list == nullptr || count <= 0) {
    return {};
  }
  const T* values = static_cast<const T*>(list);
  return std::vector<T>(values, values + count);
}
#else
// The lists AVCodec itself holds, ended by end.
template <typename T>
std::vector<T> Terminated(const T* list, T end) {
  std::vector<T> values;
  for (; list != nullptr && *list != end; ++list) values.push_back(*list);
  return values;
}
#endif

}  // namespace

std::vector<int> SupportedSampleRates(const AVCodec& codec) {
#if TRACKLOOM_SUPPORTED_CONFIG
  return SupportedConfig<int>(codec, AV_CODEC_CONFIG_SAMPLE_RATE);
#else
  return Terminated(codec.supported_samplerates, 0);
#endif
}

std::vector<AVSampleFormat> SupportedSampleFormats(const AVCodec& codec) {
#if TRACKLOOM_SUPPORTED_CONFIG
  return SupportedConfig<AVSampleFormat>(codec, AV_CODEC_CONFIG_SAMPLE_FORMAT);
#else
  return Terminated(codec.sample_fmts, AV_SAMPLE_FMT_NONE);
#endif
}

std::string ChannelLayoutName(const AVFrame& frame) {
  ChannelLayoutPtr layout(new AVChannelLayout{});
  if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels == 0) {
    av_channel_layout_default(layout.get(), std::max(1, frame.ch_layout.nb_channels));
  } else if (av_channel_layout_copy(layout.get(), &frame.ch_layout) < 0) {
    return "";
  }
  char name[128] = "";
  av_channel_layout_describe(layout.get(), name, sizeof name);
  return name;
}

}  // namespace trackloom::cli::ffmpeg

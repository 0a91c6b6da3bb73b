#include "cli/ffmpeg/audio_convert.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/common/byte_order.h"
#include "cli/common/cli_error.h"
#include "cli/common/output_file.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/common/interrupt.h"
#include "cli/tracks/sound_wav_writer.h"
#include "cli/ffmpeg/source_graph.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace trackloom::cli {
namespace {

constexpr int kBytesPerSamplePair = kTrackAudioChannels;  // one byte per channel
constexpr uint8_t kSilentSample = 0x80;


// Owns everything one conversion opens; one cleanup path for every exit.
struct Conversion {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  SwrContext* resampler = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  FILE* out = nullptr;
  std::string out_path;
  std::string out_name;  // out_path as the user knows it
  int64_t limit = INT64_MAX;  // sample bytes the file may hold
  bool full = false;
  std::unique_ptr<SourceGraph> generator;  // instead of format and decoder

  ~Conversion() {
    if (out != nullptr) std::fclose(out);
    av_frame_free(&frame);
    av_packet_free(&packet);
    swr_free(&resampler);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }

  void Write(const uint8_t* bytes, size_t count, int64_t& total) {
    if (total + static_cast<int64_t>(count) >= limit) {
      count = static_cast<size_t>(std::max<int64_t>(0, limit - total));
      full = true;
    }
    if (count == 0) return;
    if (total + static_cast<int64_t>(count) > int64_t{0xFFFFFFFF} - kWavHeaderSize) {
      throw CliError("the sound is too long for one WAV file (over 4 GiB)");
    }
    if (std::fwrite(bytes, 1, count, out) != count) {
      throw CliError("cannot write " + out_name + ": " + DescribeError(errno));
    }
    total += static_cast<int64_t>(count);
  }
};

// Opens the input's first audio stream and its decoder; stream_index stays -1 when
// there is none.
void OpenInput(Conversion& c, const std::string& input, int& stream_index, AudioConversion& result) {
  c.format = avformat_alloc_context();
  if (c.format == nullptr) throw CliError("out of memory");
  c.format->interrupt_callback.callback = AvInterruptCallback;
  int r = avformat_open_input(&c.format, input.c_str(), nullptr, nullptr);
  if (r < 0) {
    c.format = nullptr;
    if (StopRequested()) {
      result.stopped = true;
      return;
    }
    throw CliError("cannot read '" + input + "': " + AvErrorText(r));
  }
  auto first_audio = [&]() {
    for (unsigned i = 0; i < c.format->nb_streams; ++i) {
      if (c.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return static_cast<int>(i);
    }
    return -1;
  };
  stream_index = first_audio();
  // Probing decodes pictures too; when the header already names the sound's codec
  // and format it is skipped (the resampler is set up from the first decoded frame).
  const AVCodecParameters* declared = stream_index >= 0 ? c.format->streams[stream_index]->codecpar : nullptr;
  if (declared == nullptr || declared->codec_id == AV_CODEC_ID_NONE || declared->sample_rate <= 0 ||
      declared->ch_layout.nb_channels <= 0) {
    r = avformat_find_stream_info(c.format, nullptr);
    if (r < 0) throw CliError("cannot read '" + input + "': " + AvErrorText(r));
    stream_index = first_audio();
  }
  for (unsigned i = 0; i < c.format->nb_streams; ++i) {
    // Everything else is skipped by the demuxer where it can.
    if (static_cast<int>(i) != stream_index) c.format->streams[i]->discard = AVDISCARD_ALL;
  }
  if (stream_index < 0) return;
  AVStream* stream = c.format->streams[stream_index];
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) throw CliError("'" + input + "': no decoder for its sound");
  c.decoder = avcodec_alloc_context3(codec);
  if (c.decoder == nullptr) throw CliError("out of memory");
  avcodec_parameters_to_context(c.decoder, stream->codecpar);
  c.decoder->pkt_timebase = stream->time_base;
  r = avcodec_open2(c.decoder, codec, nullptr);
  if (r < 0) throw CliError("cannot decode the sound of '" + input + "': " + AvErrorText(r));

  c.packet = av_packet_alloc();
  if (c.packet == nullptr) throw CliError("out of memory");
}

}  // namespace

bool IsTrackAudioWav(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t h[kWavHeaderSize];
  const bool complete = std::fread(h, 1, sizeof h, f) == sizeof h;
  const bool sized = std::fseek(f, 0, SEEK_END) == 0;
  const long length = sized ? std::ftell(f) : -1;
  std::fclose(f);
  if (!complete || length < 0) return false;
  // A data size of 0 is what a writer leaves when it never finished the header; the
  // samples then run to the end of the file, as the filter reads them.
  const uint32_t data_size = GetLe32(h + 40);
  if (data_size != 0 && int64_t{data_size} + kWavHeaderSize < length) return false;
  // Exactly the fields the filter requires; sizes, byte rate and alignment are not
  // examined there, so they are not here either.
  return std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVE", 4) == 0 &&
         std::memcmp(h + 12, "fmt ", 4) == 0 && GetLe32(h + 16) == 16 && GetLe16(h + 20) == 1 &&
         GetLe16(h + 22) == kTrackAudioChannels && GetLe32(h + 24) == kTrackAudioRate &&
         GetLe16(h + 34) == 8 && std::memcmp(h + 36, "data", 4) == 0;
}

AudioConversion ConvertAudio(const std::string& input, bool generated, double start_seconds,
                             double max_seconds, const std::string& out_path, const std::string& out_name,
                             const std::function<void(double seconds)>& progress) {
  AudioConversion result;
  Conversion c;
  c.out_path = out_path;
  c.out_name = out_name;
  if (max_seconds >= 0) {
    c.limit = static_cast<int64_t>(std::min(max_seconds, 1e9) * kTrackAudioRate) * kBytesPerSamplePair;
  }
  AVStream* stream = nullptr;
  int stream_index = -1;
  int r = 0;
  if (generated) {
    c.generator = SourceGraph::Open(input, true);
  } else {
    OpenInput(c, input, stream_index, result);
    if (result.stopped || stream_index < 0) return result;
    stream = c.format->streams[stream_index];
  }
  result.has_audio = true;

  c.frame = av_frame_alloc();
  if (c.frame == nullptr) throw CliError("out of memory");

  c.out = std::fopen(out_path.c_str(), "wb");
  if (c.out == nullptr) {
    throw CliError("cannot create " + out_name + ": " + DescribeError(errno));
  }
  std::setvbuf(c.out, nullptr, _IOFBF, 1 << 16);
  uint8_t header[kWavHeaderSize];
  MakeSoundWavHeader(0, header);
  int64_t written = 0;
  if (std::fwrite(header, 1, sizeof header, c.out) != sizeof header) {
    throw CliError("cannot write " + out_name + ": " + DescribeError(errno));
  }

  std::vector<uint8_t> converted;
  int64_t pairs_to_drop = 0;
  bool first = true;
  auto resample = [&](const uint8_t** in, int in_count) {
    const int capacity = swr_get_out_samples(c.resampler, in_count) + 32;
    converted.resize(static_cast<size_t>(capacity) * kBytesPerSamplePair);
    uint8_t* out_planes[1] = {converted.data()};
    const int got = swr_convert(c.resampler, out_planes, capacity, in, in_count);
    if (got < 0) throw CliError("converting the sound failed: " + AvErrorText(got));
    int64_t skip = std::min<int64_t>(pairs_to_drop, got);
    pairs_to_drop -= skip;
    c.Write(converted.data() + skip * kBytesPerSamplePair,
            static_cast<size_t>(got - skip) * kBytesPerSamplePair, written);
  };

  auto drain_decoder = [&]() {
    for (;;) {
      if (c.full || (c.generator && StopRequested())) return;
      r = c.generator ? c.generator->Pull(c.frame) : avcodec_receive_frame(c.decoder, c.frame);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
      if (r < 0) throw CliError("decoding the sound failed: " + AvErrorText(r));
      if (first) {
        first = false;
        // Zeroed first: av_channel_layout_copy releases whatever the destination held.
        AVChannelLayout in_layout{};
        if (c.frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || c.frame->ch_layout.nb_channels == 0) {
          av_channel_layout_default(&in_layout, std::max(1, c.frame->ch_layout.nb_channels));
        } else {
          av_channel_layout_copy(&in_layout, &c.frame->ch_layout);
        }
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        r = swr_alloc_set_opts2(&c.resampler, &stereo, AV_SAMPLE_FMT_U8, kTrackAudioRate, &in_layout,
                                static_cast<AVSampleFormat>(c.frame->format), c.frame->sample_rate, 0,
                                nullptr);
        av_channel_layout_uninit(&in_layout);
        if (r >= 0) r = swr_init(c.resampler);
        if (r < 0) throw CliError("cannot set up the sound conversion: " + AvErrorText(r));
        if (start_seconds >= 0 && stream != nullptr) {
          int64_t ts = c.frame->best_effort_timestamp;
          if (ts == AV_NOPTS_VALUE) ts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
          const double offset = static_cast<double>(ts) * av_q2d(stream->time_base) - start_seconds;
          const int64_t pairs = std::llround(std::fabs(offset) * kTrackAudioRate);
          if (offset > 0) {
            // The sound begins after the picture: silence until it does, written a
            // block at a time so a late start costs no memory.
            const std::vector<uint8_t> silence(size_t{1} << 16, kSilentSample);
            for (int64_t left = pairs * kBytesPerSamplePair; left > 0;) {
              const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(silence.size())));
              c.Write(silence.data(), n, written);
              left -= static_cast<int64_t>(n);
            }
          } else {
            pairs_to_drop = pairs;
          }
        }
      }
      resample(const_cast<const uint8_t**>(c.frame->extended_data), c.frame->nb_samples);
      if (progress) progress(static_cast<double>(written) / (kTrackAudioRate * kBytesPerSamplePair));
      av_frame_unref(c.frame);
    }
  };

  while (c.format != nullptr && !c.full) {
    if (StopRequested()) {
      result.stopped = true;
      return result;
    }
    r = av_read_frame(c.format, c.packet);
    if (r < 0) {
      if (StopRequested()) {
        result.stopped = true;
        return result;
      }
      break;  // the end, or a read error after which the sound so far is kept
    }
    if (c.packet->stream_index == stream_index) avcodec_send_packet(c.decoder, c.packet);
    av_packet_unref(c.packet);
    drain_decoder();
  }
  if (c.decoder != nullptr) avcodec_send_packet(c.decoder, nullptr);
  drain_decoder();
  if (StopRequested()) {
    result.stopped = true;
    return result;
  }
  if (c.resampler != nullptr && !c.full) resample(nullptr, 0);

  MakeSoundWavHeader(static_cast<uint32_t>(written), header);
  if (std::fseek(c.out, 0, SEEK_SET) != 0 || std::fwrite(header, 1, sizeof header, c.out) != sizeof header ||
      std::fclose(c.out) != 0) {
    const int error = errno;
    c.out = nullptr;
    throw CliError("cannot write " + out_name + ": " + DescribeError(error));
  }
  c.out = nullptr;
  result.data_bytes = written;
  return result;
}

}  // namespace trackloom::cli

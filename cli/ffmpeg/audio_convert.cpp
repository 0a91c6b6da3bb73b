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
constexpr uint8_t kSilentSample = kSilence;


// Owns everything one conversion opens; one cleanup path for every exit.
struct Conversion {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  SwrContext* resampler = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  FILE* out = nullptr;
  std::string out_path;
  int64_t limit = INT64_MAX;  // sample bytes the file may hold
  bool full = false;
  std::unique_ptr<SourceGraph> generator;  // instead of format and decoder
  AVStream* stream = nullptr;  // the input's sound; null for a generator
  int stream_index = -1;
  double start_seconds = -1;  // where the pictures start, to align the sound to
  std::function<void(double seconds)> progress;
  int64_t written = 0;  // sample bytes after the header
  int64_t pairs_to_drop = 0;  // the sound began before the pictures
  bool aligned = false;       // the first frame placed the sound against the pictures
  // The format the resampler is set up for.
  int in_format = -1, in_rate = 0, in_channels = 0;
  std::vector<uint8_t> converted;

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
      throw CliError("cannot write the sound file '" + out_path + "': " + std::strerror(errno));
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
  if (codec == nullptr) throw CliError("'" + input + "': no decoder for its sound; --no-audio makes silent tracks");
  c.decoder = avcodec_alloc_context3(codec);
  if (c.decoder == nullptr) throw CliError("out of memory");
  avcodec_parameters_to_context(c.decoder, stream->codecpar);
  c.decoder->pkt_timebase = stream->time_base;
  r = avcodec_open2(c.decoder, codec, nullptr);
  if (r < 0) throw CliError("cannot decode the sound of '" + input + "': " + AvErrorText(r) +
                          "; --no-audio makes silent tracks");

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

namespace {

void Resample(Conversion& c, const uint8_t** in, int in_count) {
  const int capacity = swr_get_out_samples(c.resampler, in_count) + 32;
  c.converted.resize(static_cast<size_t>(capacity) * kBytesPerSamplePair);
  uint8_t* out_planes[1] = {c.converted.data()};
  const int got = swr_convert(c.resampler, out_planes, capacity, in, in_count);
  if (got < 0) throw CliError("converting the sound failed: " + AvErrorText(got));
  const int64_t skip = std::min<int64_t>(c.pairs_to_drop, got);
  c.pairs_to_drop -= skip;
  c.Write(c.converted.data() + skip * kBytesPerSamplePair, static_cast<size_t>(got - skip) * kBytesPerSamplePair,
          c.written);
}

// The sound begins after the picture: silence until it does, written a block at a
// time so a late start costs no memory. Before it: that much is dropped.
void AlignToPictures(Conversion& c, const AVFrame* frame) {
  if (c.start_seconds < 0 || c.stream == nullptr) return;
  int64_t ts = frame->best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = c.stream->start_time != AV_NOPTS_VALUE ? c.stream->start_time : 0;
  // Clamped to 30 years, beyond any limit, so the count of sample pairs stays in range.
  const double offset =
      std::clamp(static_cast<double>(ts) * av_q2d(c.stream->time_base) - c.start_seconds, -1e9, 1e9);
  const int64_t pairs = std::llround(std::fabs(offset) * kTrackAudioRate);
  if (offset <= 0) {
    c.pairs_to_drop = pairs;
    return;
  }
  const std::vector<uint8_t> silence(size_t{1} << 16, kSilentSample);
  for (int64_t left = pairs * kBytesPerSamplePair; left > 0 && !c.full;) {
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(silence.size())));
    c.Write(silence.data(), n, c.written);
    left -= static_cast<int64_t>(n);
  }
}

// The resampler follows the decoded frames: broadcasts switch between stereo and
// 5.1, and a damaged header can change the format of the frames after it.
void ConfigureResampler(Conversion& c, const AVFrame& frame) {
  if (frame.format == c.in_format && frame.sample_rate == c.in_rate && frame.ch_layout.nb_channels == c.in_channels) {
    return;
  }
  if (c.resampler != nullptr) Resample(c, nullptr, 0);
  swr_free(&c.resampler);
  c.in_format = frame.format;
  c.in_rate = frame.sample_rate;
  c.in_channels = frame.ch_layout.nb_channels;
  // Zeroed first: av_channel_layout_copy releases whatever the destination held.
  AVChannelLayout in_layout{};
  if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || frame.ch_layout.nb_channels == 0) {
    av_channel_layout_default(&in_layout, std::max(1, frame.ch_layout.nb_channels));
  } else {
    av_channel_layout_copy(&in_layout, &frame.ch_layout);
  }
  AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
  int e = swr_alloc_set_opts2(&c.resampler, &stereo, AV_SAMPLE_FMT_U8, kTrackAudioRate, &in_layout,
                              static_cast<AVSampleFormat>(frame.format), frame.sample_rate, 0, nullptr);
  av_channel_layout_uninit(&in_layout);
  if (e >= 0) e = swr_init(c.resampler);
  if (e < 0) throw CliError("cannot set up the sound conversion: " + AvErrorText(e));
}

// Converts every frame the decoder (or the generator) has ready.
void DrainDecoder(Conversion& c) {
  for (;;) {
    if (c.full || (c.generator && StopRequested())) return;
    const int r = c.generator ? c.generator->Pull(c.frame) : avcodec_receive_frame(c.decoder, c.frame);
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
    // A damaged packet is skipped, as players do; the decoder resynchronises.
    if (r < 0 && !c.generator) return;
    if (r < 0) throw CliError("decoding the sound failed: " + AvErrorText(r));
    ConfigureResampler(c, *c.frame);
    if (!c.aligned) {
      c.aligned = true;
      AlignToPictures(c, c.frame);
    }
    Resample(c, const_cast<const uint8_t**>(c.frame->extended_data), c.frame->nb_samples);
    if (c.progress) c.progress(static_cast<double>(c.written) / (kTrackAudioRate * kBytesPerSamplePair));
    av_frame_unref(c.frame);
  }
}

// Hands a packet (null: the end) to the decoder. A packet it refuses as damaged
// loses only its own sound and the conversion goes on, as players do; EAGAIN cannot
// come, since every frame is taken out after each packet, nor EOF before the end.
void SendPacket(Conversion& c, const AVPacket* packet) {
  const int r = avcodec_send_packet(c.decoder, packet);
  if (r == AVERROR(ENOMEM)) throw CliError("out of memory");
}

// Reads and converts the whole input; false when Ctrl-C stopped it.
bool ConvertAll(Conversion& c) {
  while (c.format != nullptr && !c.full) {
    if (StopRequested()) return false;
    if (av_read_frame(c.format, c.packet) < 0) {
      if (StopRequested()) return false;
      break;  // the end, or a read error after which the sound so far is kept
    }
    if (c.packet->stream_index == c.stream_index) SendPacket(c, c.packet);
    av_packet_unref(c.packet);
    DrainDecoder(c);
  }
  if (c.decoder != nullptr) SendPacket(c, nullptr);
  DrainDecoder(c);
  if (StopRequested()) return false;
  if (c.resampler != nullptr && !c.full) Resample(c, nullptr, 0);
  return true;
}

// The output file with a header whose data size is patched by FinishOutput().
void StartOutput(Conversion& c) {
  c.out = std::fopen(c.out_path.c_str(), "wb");
  if (c.out == nullptr) {
    throw CliError("cannot create the sound file '" + c.out_path + "': " + std::strerror(errno));
  }
  std::setvbuf(c.out, nullptr, _IOFBF, 1 << 16);
  uint8_t header[kWavHeaderSize];
  MakeSoundWavHeader(0, header);
  if (std::fwrite(header, 1, sizeof header, c.out) != sizeof header) {
    throw CliError("cannot write the sound file '" + c.out_path + "': " + std::strerror(errno));
  }
}

void FinishOutput(Conversion& c) {
  uint8_t header[kWavHeaderSize];
  MakeSoundWavHeader(static_cast<uint32_t>(c.written), header);
  FILE* out = c.out;
  c.out = nullptr;
  const bool patched = std::fseek(out, 0, SEEK_SET) == 0 && std::fwrite(header, 1, sizeof header, out) == sizeof header;
  const int error = errno;
  const bool closed = std::fclose(out) == 0;
  if (!patched || !closed) {
    throw CliError("cannot write the sound file '" + c.out_path + "': " + std::strerror(patched ? errno : error));
  }
}

}  // namespace

AudioConversion ConvertAudio(const std::string& input, bool generated, double start_seconds,
                             double max_seconds, const std::string& out_path,
                             const std::function<void(double seconds)>& progress) {
  AudioConversion result;
  Conversion c;
  c.out_path = out_path;
  c.start_seconds = start_seconds;
  c.progress = progress;
  if (max_seconds >= 0) {
    c.limit = static_cast<int64_t>(std::min(max_seconds, 1e9) * kTrackAudioRate) * kBytesPerSamplePair;
  }
  if (generated) {
    c.generator = SourceGraph::Open(input, true);
  } else {
    OpenInput(c, input, c.stream_index, result);
    if (result.stopped || c.stream_index < 0) return result;
    c.stream = c.format->streams[c.stream_index];
  }
  result.has_audio = true;
  c.frame = av_frame_alloc();
  if (c.frame == nullptr) throw CliError("out of memory");
  StartOutput(c);
  if (!ConvertAll(c)) {
    result.stopped = true;
    return result;
  }
  FinishOutput(c);
  result.data_bytes = c.written;
  return result;
}

}  // namespace trackloom::cli

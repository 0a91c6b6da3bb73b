#include "cli/ffmpeg/audio_convert.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/output_file.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/input_kind.h"
#include "cli/ffmpeg/source_graph.h"
#include "cli/tracks/sound_wav_writer.h"
#include "core/track_format.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace trackloom::cli {
namespace {

constexpr int kBytesPerSamplePair = kTrackAudioChannels;  // one byte per channel

// The meter gives -70 LUFS, its gate, for silence or too little sound to gate.
constexpr double kQuietestMeasured = -69.0;
// One gain, never more than this either way: a near-silent input is not a reason
// to lift its noise by 40 dB.
constexpr double kMaxGainDb = 30.0;
// Peaks above this (dBFS) after the gain are limited; the rest of the sound is not touched.
constexpr double kPeakCeilingDb = -1.0;

struct FrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// Decoded sound: the input's first audio stream, or a generated source chain.
class SoundDecoder {
 public:
  ~SoundDecoder() {
    av_packet_free(&packet_);
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
  }

  // False when the input has no audio stream, or Ctrl-C stopped the opening.
  bool Open(const std::string& input, bool generated);
  // After Open() found no audio stream: what the input holds instead.
  const std::string& without_sound() const { return without_sound_; }
  // 0 with the next frame; AVERROR_EOF at the end, or after a read error (the sound so
  // far is kept); AVERROR_EXIT when Ctrl-C stopped it. Throws on a decoding failure.
  int Next(AVFrame* frame);
  // The stream's timeline, or nullptr for a generated source.
  const AVStream* stream() const { return stream_; }
  // The time base of the frames' timestamps.
  AVRational time_base() const {
    return stream_ != nullptr ? stream_->time_base : generator_->time_base();
  }

 private:
  int ReadPacket();

  AVFormatContext* format_ = nullptr;
  AVCodecContext* decoder_ = nullptr;
  AVPacket* packet_ = nullptr;
  const AVStream* stream_ = nullptr;
  std::unique_ptr<SourceGraph> generator_;
  bool flushed_ = false;
  std::string without_sound_;
};

bool SoundDecoder::Open(const std::string& input, bool generated) {
  if (generated) {
    generator_ = SourceGraph::Open(input, true);
    return true;
  }
  format_ = avformat_alloc_context();
  if (format_ == nullptr) throw CliError("out of memory");
  format_->interrupt_callback.callback = AvInterruptCallback;
  int r = avformat_open_input(&format_, InputUrl(input).c_str(), nullptr, nullptr);
  if (r < 0) {
    format_ = nullptr;
    if (StopRequested()) return false;
    throw CliError("cannot read '" + input + "': " + AvErrorText(r));
  }
  auto first_audio = [&]() {
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
      if (format_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
        return static_cast<int>(i);
    }
    return -1;
  };
  int index = first_audio();
  // Probing decodes pictures too; when the header already names the sound's codec
  // and format it is skipped (the chain is set up from the first decoded frame).
  const AVCodecParameters* declared = index >= 0 ? format_->streams[index]->codecpar : nullptr;
  if (declared == nullptr || declared->codec_id == AV_CODEC_ID_NONE || declared->sample_rate <= 0 ||
      declared->ch_layout.nb_channels <= 0) {
    r = avformat_find_stream_info(format_, nullptr);
    if (r < 0) throw CliError("cannot read '" + input + "': " + AvErrorText(r));
    index = first_audio();
  }
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    // Everything else is skipped by the demuxer where it can.
    if (static_cast<int>(i) != index) format_->streams[i]->discard = AVDISCARD_ALL;
  }
  if (index < 0) {
    without_sound_ = DescribeWithoutSound(*format_);
    return false;
  }
  stream_ = format_->streams[index];
  const AVCodec* codec = avcodec_find_decoder(stream_->codecpar->codec_id);
  if (codec == nullptr)
    throw CliError("'" + input + "': no decoder for its sound; --no-audio makes silent tracks");
  decoder_ = avcodec_alloc_context3(codec);
  if (decoder_ == nullptr) throw CliError("out of memory");
  avcodec_parameters_to_context(decoder_, stream_->codecpar);
  decoder_->pkt_timebase = stream_->time_base;
  r = avcodec_open2(decoder_, codec, nullptr);
  if (r < 0) {
    throw CliError("cannot decode the sound of '" + input + "': " + AvErrorText(r) +
                   "; --no-audio makes silent tracks");
  }
  packet_ = av_packet_alloc();
  if (packet_ == nullptr) throw CliError("out of memory");
  return true;
}

// Feeds the decoder the next packet of the stream, or the end. AVERROR_EXIT on Ctrl-C.
int SoundDecoder::ReadPacket() {
  for (;;) {
    if (StopRequested()) return AVERROR_EXIT;
    const int r = av_read_frame(format_, packet_);
    if (r < 0) {
      if (StopRequested()) return AVERROR_EXIT;
      // The end, or a read error after which the sound so far is kept.
      flushed_ = true;
      return avcodec_send_packet(decoder_, nullptr);
    }
    if (packet_->stream_index == stream_->index) {
      // A packet refused as damaged loses only its own sound, as players do; EAGAIN
      // cannot come, since every frame is taken out before the next packet.
      const int sent = avcodec_send_packet(decoder_, packet_);
      av_packet_unref(packet_);
      if (sent == AVERROR(ENOMEM)) throw CliError("out of memory");
      return 0;
    }
    av_packet_unref(packet_);
  }
}

int SoundDecoder::Next(AVFrame* frame) {
  if (generator_ != nullptr) return StopRequested() ? AVERROR_EXIT : generator_->Pull(frame);
  for (;;) {
    const int r = avcodec_receive_frame(decoder_, frame);
    if (r == 0 || r == AVERROR_EOF) return r;
    // Any other failure is a damaged packet: skipped, and the decoder resynchronises
    // on the next one. After the end, whatever was left is given up.
    if (flushed_) return AVERROR_EOF;
    const int read = ReadPacket();
    if (read == AVERROR_EXIT) return read;
  }
}

// A filter chain from decoded sound to 17640 Hz: resampling, channels, level and the
// final word length, all done by libavfilter.
class SoundChain {
 public:
  // filters follows the input; the sink takes whatever the chain's end gives.
  SoundChain(const AVFrame& first, AVRational time_base, const std::string& filters);
  ~SoundChain() { avfilter_graph_free(&graph_); }
  SoundChain(const SoundChain&) = delete;
  SoundChain& operator=(const SoundChain&) = delete;

  // Takes a decoded frame, or nullptr at the end.
  void Push(AVFrame* frame);
  // 0 with a frame, AVERROR(EAGAIN) when more input is needed, AVERROR_EOF at the end.
  int Pull(AVFrame* frame) { return av_buffersink_get_frame(sink_, frame); }

 private:
  AVFilterGraph* graph_ = nullptr;
  AVFilterContext* source_ = nullptr;
  AVFilterContext* sink_ = nullptr;
};

SoundChain::SoundChain(const AVFrame& first, AVRational time_base, const std::string& filters) {
  graph_ = avfilter_graph_alloc();
  if (graph_ == nullptr) throw CliError("out of memory");
  // Without a declared layout (or with none at all) the channels are taken in
  // FFmpeg's usual order for their count, so every channel is mixed in.
  AVChannelLayout layout{};
  if (first.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || first.ch_layout.nb_channels == 0) {
    av_channel_layout_default(&layout, std::max(1, first.ch_layout.nb_channels));
  } else {
    av_channel_layout_copy(&layout, &first.ch_layout);
  }
  char layout_name[128] = "";
  av_channel_layout_describe(&layout, layout_name, sizeof layout_name);
  av_channel_layout_uninit(&layout);
  char args[512];
  std::snprintf(args, sizeof args, "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                time_base.num, time_base.den, first.sample_rate,
                av_get_sample_fmt_name(static_cast<AVSampleFormat>(first.format)), layout_name);
  int r = avfilter_graph_create_filter(&source_, avfilter_get_by_name("abuffer"), "in", args,
                                       nullptr, graph_);
  if (r >= 0) {
    r = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("abuffersink"), "out", nullptr,
                                     nullptr, graph_);
  }
  if (r >= 0) r = ConnectChain(graph_, source_, sink_, filters);
  if (r < 0) throw CliError("cannot set up the sound conversion: " + AvErrorText(r));
}

void SoundChain::Push(AVFrame* frame) {
  const int r = av_buffersrc_add_frame_flags(source_, frame, AV_BUFFERSRC_FLAG_KEEP_REF);
  if (r < 0) throw CliError("converting the sound failed: " + AvErrorText(r));
}

bool SameFormat(const AVFrame& a, const AVFrame& b) {
  return a.sample_rate == b.sample_rate && a.format == b.format &&
         av_channel_layout_compare(&a.ch_layout, &b.ch_layout) == 0;
}

// Runs every frame of decoder through a chain made for its first frame and hands
// each converted frame, with the first decoded one, to take, until take returns
// false. When the sound changes its rate or channels midway (broadcast streams do),
// the chain is finished and made again for the new format. False when Ctrl-C
// stopped it.
bool RunChain(SoundDecoder& decoder, const std::function<std::string(const AVFrame&)>& filters,
              const std::function<bool(const AVFrame& first, AVFrame* out)>& take) {
  FramePtr in(av_frame_alloc());
  FramePtr out(av_frame_alloc());
  FramePtr first(av_frame_alloc());
  FramePtr made_for(av_frame_alloc());
  if (in == nullptr || out == nullptr || first == nullptr || made_for == nullptr)
    throw CliError("out of memory");
  std::unique_ptr<SoundChain> chain;
  bool taking = true;
  auto drain = [&]() {
    int pulled;
    while (taking && (pulled = chain->Pull(out.get())) == 0) {
      taking = take(*first, out.get());
      av_frame_unref(out.get());
    }
    if (taking && pulled != AVERROR(EAGAIN) && pulled != AVERROR_EOF) {
      throw CliError("converting the sound failed: " + AvErrorText(pulled));
    }
  };
  while (taking) {
    const int r = decoder.Next(in.get());
    if (r == AVERROR_EXIT) return false;
    if (r != 0) break;
    if (chain != nullptr && !SameFormat(*in, *made_for)) {
      chain->Push(nullptr);
      drain();
      chain.reset();
    }
    if (chain == nullptr) {
      if (first->nb_samples == 0) av_frame_ref(first.get(), in.get());
      av_frame_unref(made_for.get());
      av_frame_ref(made_for.get(), in.get());
      chain = std::make_unique<SoundChain>(*in, decoder.time_base(), filters(*in));
    }
    chain->Push(in.get());
    av_frame_unref(in.get());
    drain();
  }
  if (chain != nullptr && taking) {
    chain->Push(nullptr);
    drain();
  }
  return true;
}

// Resampling to the filter's rate in floating point, into two channels, or into one
// for a mono source (or any, with mono): that one is written to both channels at its
// own level, where a plain upmix would lower it by 3 dB, and with the same dither in
// both, so they stay identical.
bool OneChannel(const AVFrame& first, bool mono) {
  return mono || first.ch_layout.nb_channels == 1;
}

std::string RateAndChannels(const AVFrame& first, bool mono) {
  char text[128];
  std::snprintf(text, sizeof text, "aresample=%d,aformat=sample_fmts=dbl:channel_layouts=%s",
                kTrackAudioRate, OneChannel(first, mono) ? "mono" : "stereo");
  return text;
}

// Sound already made for the player (8-bit, 17640 Hz, one or two channels): its
// samples are kept as they are, neither levelled nor dithered.
bool IsPlayerFormat(const AVFrame& first, bool mono) {
  const auto format = static_cast<AVSampleFormat>(first.format);
  const int channels = first.ch_layout.nb_channels;
  return (format == AV_SAMPLE_FMT_U8 || format == AV_SAMPLE_FMT_U8P) &&
         first.sample_rate == kTrackAudioRate && (channels == 1 || (channels == 2 && !mono));
}

double MetadataNumber(const AVFrame& frame, const char* key) {
  const AVDictionaryEntry* entry = av_dict_get(frame.metadata, key, nullptr, 0);
  return entry != nullptr ? std::strtod(entry->value, nullptr) : std::nan("");
}

}  // namespace

Loudness MeasureLoudness(const std::string& input, bool generated, double max_seconds, bool mono,
                         const std::function<void(double seconds)>& progress) {
  Loudness measured;
  SoundDecoder decoder;
  if (!decoder.Open(input, generated)) {
    measured.stopped = StopRequested();
    return measured;
  }
  const int64_t limit = max_seconds >= 0
                            ? static_cast<int64_t>(std::min(max_seconds, 1e9) * kTrackAudioRate)
                            : INT64_MAX;
  int64_t seen = 0;
  const bool done = RunChain(
      decoder,
      [&](const AVFrame& first) {
        // The meter's integrated value and the highest true peak so far ride on the
        // frames it passes; the last ones given are the whole input's.
        // Measured as it will be heard: one channel plays from both speakers.
        return RateAndChannels(first, mono) +
               (OneChannel(first, mono) ? ",pan=stereo|c0=c0|c1=c0" : "") +
               ",ebur128=peak=true:metadata=1";
      },
      [&](const AVFrame& first, AVFrame* out) {
        measured.player_format = IsPlayerFormat(first, mono);
        // Not every frame carries them: only those that end a 100 ms block.
        const double integrated = MetadataNumber(*out, "lavfi.r128.I");
        const double true_peak = MetadataNumber(*out, "lavfi.r128.true_peak");
        if (!std::isnan(integrated)) measured.integrated = integrated;
        if (!std::isnan(true_peak)) measured.true_peak = true_peak;
        seen += av_rescale(out->nb_samples, kTrackAudioRate, out->sample_rate);
        if (progress) progress(static_cast<double>(seen) / kTrackAudioRate);
        return seen < limit;
      });
  measured.stopped = !done;
  return measured;
}

namespace {

// The gain that brings measured to target, and the limiter setting that keeps the
// peaks under the ceiling afterwards (0: none needed).
struct Leveling {
  double gain_db = 0;
  double limit = 0;
};

Leveling LevelFor(const Loudness& measured, double target) {
  Leveling level;
  // Silence, or too little sound to gate (under 0.4 s), has no loudness to match.
  if (!(measured.integrated > kQuietestMeasured)) return level;
  level.gain_db = std::clamp(target - measured.integrated, -kMaxGainDb, kMaxGainDb);
  const double peak_db = measured.true_peak > 0 ? 20 * std::log10(measured.true_peak) : -200;
  if (peak_db + level.gain_db > kPeakCeilingDb) level.limit = std::pow(10.0, kPeakCeilingDb / 20);
  return level;
}

// The chain after RateAndChannels: the gain, the limiter if needed, then 8 bits.
std::string LevelAndWordLength(const Leveling& level, bool dither, bool one_channel) {
  std::string text;
  char part[200];
  if (level.gain_db != 0) {
    std::snprintf(part, sizeof part, ",volume=%.2fdB:precision=double", level.gain_db);
    text += part;
  }
  if (level.limit > 0) {
    // A look-ahead limiter that touches only the peaks above the ceiling (no automatic
    // level, no release shaping), its delay taken back so sound and pictures stay together.
    std::snprintf(part, sizeof part, ",alimiter=limit=%.4f:attack=5:release=50:level=0:latency=1",
                  level.limit);
    text += part;
  }
  // Triangular high-passed dither: the noise-shaped methods of the resampler exist
  // only for the usual rates, not 17640 Hz.
  text += dither ? ",aresample=dither_method=triangular_hp" : ",aresample";
  text += one_channel ? ",aformat=sample_fmts=u8:channel_layouts=mono"
                      : ",aformat=sample_fmts=u8:channel_layouts=stereo";
  return text;
}

// The sound file being written, with the limit of what it may hold.
struct SoundOutput {
  FILE* out = nullptr;
  std::string out_name;       // the file as the user knows it
  int64_t limit = INT64_MAX;  // sample bytes the file may hold
  int64_t written = 0;
  bool full = false;
  std::vector<uint8_t> doubled;

  ~SoundOutput() {
    if (out != nullptr) std::fclose(out);
  }

  // Creates the file with a header whose sizes Finish() fills in.
  void Open(const std::string& path) {
    out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) throw CliError("cannot create " + out_name + ": " + DescribeError(errno));
    std::setvbuf(out, nullptr, _IOFBF, 1 << 16);
    uint8_t header[kWavHeaderSize];
    MakeSoundWavHeader(0, header);
    if (std::fwrite(header, 1, sizeof header, out) != sizeof header) {
      throw CliError("cannot write " + out_name + ": " + DescribeError(errno));
    }
  }

  void Finish() {
    uint8_t header[kWavHeaderSize];
    MakeSoundWavHeader(static_cast<uint32_t>(written), header);
    FILE* file = out;
    out = nullptr;
    // Closed whatever happens; the first failure's reason is the one given.
    const bool patched = std::fseek(file, 0, SEEK_SET) == 0 &&
                         std::fwrite(header, 1, sizeof header, file) == sizeof header;
    const int error = errno;
    const bool closed = std::fclose(file) == 0;
    if (!patched || !closed) {
      throw CliError("cannot write " + out_name + ": " + DescribeError(patched ? errno : error));
    }
  }

  void Write(const uint8_t* bytes, size_t count) {
    if (written + static_cast<int64_t>(count) >= limit) {
      count = static_cast<size_t>(std::max<int64_t>(0, limit - written));
      full = true;
    }
    if (count == 0) return;
    if (written + static_cast<int64_t>(count) >
        static_cast<int64_t>(wav::kLargestSize) - kWavHeaderSize) {
      throw CliError("the sound is too long for one WAV file (over 4 GiB)");
    }
    if (std::fwrite(bytes, 1, count, out) != count) {
      throw CliError("cannot write " + out_name + ": " + DescribeError(errno));
    }
    written += static_cast<int64_t>(count);
  }

  // One channel's samples as left and right alike.
  void WriteBothChannels(const uint8_t* samples, size_t count) {
    doubled.resize(count * kBytesPerSamplePair);
    for (size_t i = 0; i < count; ++i) doubled[2 * i] = doubled[2 * i + 1] = samples[i];
    Write(doubled.data(), doubled.size());
  }

  // The sound begins after the picture: silence until it does, written a block at a
  // time so a late start costs no memory.
  void WriteSilence(int64_t pairs) {
    const std::vector<uint8_t> silence(size_t{1} << 16, kSilence);
    for (int64_t left = pairs * kBytesPerSamplePair; left > 0 && !full;) {
      const size_t n =
          static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(silence.size())));
      Write(silence.data(), n);
      left -= static_cast<int64_t>(n);
    }
  }
};

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
  const uint32_t data_size = wav::GetLe32(h + wav::kDataSizeOffset);
  if (data_size != 0 && int64_t{data_size} + kWavHeaderSize < length) return false;
  // Exactly the header the filter accepts.
  return wav::CheckHeader(h, wav::kSoundFormat);
}

namespace {

// The gain and limiter for options.loudness_target, measured in a first pass over the
// input (none when no target is set, or the sound is already the player's). False
// when Ctrl-C stopped the measuring.
bool PlanLeveling(const std::string& input, bool generated, double max_seconds,
                  const SoundOptions& options, AudioConversion& result, Leveling& level,
                  const std::function<void(double seconds)>& progress) {
  if (std::isnan(options.loudness_target)) return true;
  const Loudness measured = MeasureLoudness(input, generated, max_seconds, options.mono, progress);
  result.stopped = measured.stopped;
  if (result.stopped) return false;
  result.input_loudness = measured.integrated;
  result.input_true_peak = measured.true_peak;
  if (!measured.player_format) level = LevelFor(measured, options.loudness_target);
  result.player_format = measured.player_format;
  result.gain_db = level.gain_db;
  result.limited = level.limit > 0;
  return true;
}

// The file starts at the first picture: sound before it is dropped, and silence stands
// for sound that begins after it. Gives the sample pairs to drop.
int64_t AlignToPicture(const AVFrame& first, const AVStream* stream, double start_seconds,
                       SoundOutput& output) {
  int64_t ts = first.best_effort_timestamp;
  if (ts == AV_NOPTS_VALUE) ts = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
  const double offset = static_cast<double>(ts) * av_q2d(stream->time_base) - start_seconds;
  const int64_t pairs = std::llround(std::min(std::fabs(offset), 1e9) * kTrackAudioRate);
  if (offset <= 0) return pairs;
  output.WriteSilence(pairs);
  return 0;
}

}  // namespace

AudioConversion ConvertAudio(const std::string& input, bool generated, double start_seconds,
                             double max_seconds, const SoundOptions& options,
                             const std::string& out_path, const std::string& out_name,
                             const std::function<void(double seconds)>& progress,
                             const std::function<void(double seconds)>& measuring) {
  AudioConversion result;
  Leveling level;
  if (!PlanLeveling(input, generated, max_seconds, options, result, level, measuring))
    return result;
  SoundDecoder decoder;
  if (!decoder.Open(input, generated)) {
    result.stopped = StopRequested();
    result.without_sound = decoder.without_sound();
    return result;
  }
  result.has_audio = true;

  SoundOutput output;
  output.out_name = out_name;
  if (max_seconds >= 0) {
    output.limit =
        static_cast<int64_t>(std::min(max_seconds, 1e9) * kTrackAudioRate) * kBytesPerSamplePair;
  }
  output.Open(out_path);

  bool aligned = start_seconds < 0 || decoder.stream() == nullptr;
  int64_t pairs_to_drop = 0;
  const bool done = RunChain(
      decoder,
      [&](const AVFrame& first) {
        const bool kept = IsPlayerFormat(first, options.mono);
        result.player_format = kept;
        return RateAndChannels(first, options.mono) +
               LevelAndWordLength(kept ? Leveling{} : level, options.dither && !kept,
                                  OneChannel(first, options.mono));
      },
      [&](const AVFrame& first, AVFrame* out) {
        if (!aligned) {
          aligned = true;
          pairs_to_drop = AlignToPicture(first, decoder.stream(), start_seconds, output);
        }
        const int64_t skip = std::min<int64_t>(pairs_to_drop, out->nb_samples);
        pairs_to_drop -= skip;
        if (out->ch_layout.nb_channels == 1) {
          output.WriteBothChannels(out->data[0] + skip,
                                   static_cast<size_t>(out->nb_samples - skip));
        } else {
          output.Write(out->data[0] + skip * kBytesPerSamplePair,
                       static_cast<size_t>(out->nb_samples - skip) * kBytesPerSamplePair);
        }
        if (progress)
          progress(static_cast<double>(output.written) / (kTrackAudioRate * kBytesPerSamplePair));
        return !output.full;
      });
  if (!done) {
    result.stopped = true;
    return result;
  }
  output.Finish();
  result.data_bytes = output.written;
  return result;
}

}  // namespace trackloom::cli

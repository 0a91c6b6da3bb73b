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
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/filter_chain.h"
#include "cli/ffmpeg/sound_decoder.h"
#include "cli/tracks/sound_wav_writer.h"
#include "core/track_format.h"

namespace trackloom::cli::ffmpeg {
namespace {

constexpr int kBytesPerSamplePair = kSoundChannels;  // one byte per channel

// The meter gives -70 LUFS, its gate, for silence or too little sound to gate.
constexpr double kQuietestMeasured = -69.0;
// One gain, never more than this either way: a near-silent input is not a reason
// to lift its noise by 40 dB.
constexpr double kMaxGainDb = 30.0;
// Peaks above this (dBFS) after the gain are limited; the rest of the sound is not touched.
constexpr double kPeakCeilingDb = -1.0;

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
  FramePtr in = MakeFrame();
  FramePtr out = MakeFrame();
  FramePtr first = MakeFrame();
  FramePtr made_for = MakeFrame();
  std::unique_ptr<FilterChain> chain;
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
      chain = FilterChain::ForSound(*in, decoder.time_base(), filters(*in));
    }
    chain->Push(in.get());
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
                kSoundSampleRate, OneChannel(first, mono) ? "mono" : "stereo");
  return text;
}

// Sound already made for the player (8-bit, 17640 Hz, one or two channels): its
// samples are kept as they are, neither levelled nor dithered.
bool IsPlayerFormat(const AVFrame& first, bool mono) {
  const auto format = static_cast<AVSampleFormat>(first.format);
  const int channels = first.ch_layout.nb_channels;
  return (format == AV_SAMPLE_FMT_U8 || format == AV_SAMPLE_FMT_U8P) &&
         first.sample_rate == kSoundSampleRate && (channels == 1 || (channels == 2 && !mono));
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
                            ? static_cast<int64_t>(std::min(max_seconds, 1e9) * kSoundSampleRate)
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
        seen += av_rescale(out->nb_samples, kSoundSampleRate, out->sample_rate);
        if (progress) progress(static_cast<double>(seen) / kSoundSampleRate);
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

// The sound file being written, with the limit of what it may hold. Written through
// the descriptor a block at a time rather than through stdio, whose failed writes on
// Windows may carry a stale reason: a write the disk takes none of is a full disk.
struct SoundOutput {
  UniqueFd fd;
  std::string out_name;       // the file as the user knows it
  int64_t limit = INT64_MAX;  // sample bytes the file may hold
  int64_t written = 0;
  bool full = false;
  std::vector<uint8_t> doubled;
  std::vector<uint8_t> pending;  // bytes after the first `stored` of the file
  int64_t stored = 0;

  static constexpr size_t kBlock = size_t{1} << 16;

  [[noreturn]] void Fail(int error) const {
    throw CliError("cannot write " + out_name + ": " + DescribeError(error));
  }

  void WriteAt(int64_t offset, const uint8_t* bytes, size_t count) {
    while (count > 0) {
      const ssize_t n = pwrite(fd.get(), bytes, count, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) Fail(n == 0 ? ENOSPC : errno);
      bytes += n;
      count -= static_cast<size_t>(n);
      offset += n;
    }
  }

  void Flush() {
    WriteAt(stored, pending.data(), pending.size());
    stored += static_cast<int64_t>(pending.size());
    pending.clear();
  }

  // Creates the file with a header whose sizes Finish() fills in.
  void Open(const std::string& path) {
    fd.Reset(OpenDescriptor(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd) throw CliError("cannot create " + out_name + ": " + DescribeError(errno));
    pending.reserve(kBlock);
    pending.resize(kWaveHeaderSize);
    MakeSoundWavHeader(0, pending.data());
  }

  void Finish() {
    Flush();
    uint8_t header[kWaveHeaderSize];
    MakeSoundWavHeader(static_cast<uint32_t>(written), header);
    WriteAt(0, header, sizeof header);
    if (!fd.Close()) Fail(errno);
  }

  void Write(const uint8_t* bytes, size_t count) {
    if (written + static_cast<int64_t>(count) >= limit) {
      count = static_cast<size_t>(std::max<int64_t>(0, limit - written));
      full = true;
    }
    if (count == 0) return;
    if (written + static_cast<int64_t>(count) >
        static_cast<int64_t>(wav::kLargestSize) - kWaveHeaderSize) {
      throw CliError("the sound is too long for one WAV file (over 4 GiB)");
    }
    pending.insert(pending.end(), bytes, bytes + count);
    if (pending.size() >= kBlock) Flush();
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
  uint8_t h[kWaveHeaderSize];
  const bool complete = std::fread(h, 1, sizeof h, f) == sizeof h;
  const bool sized = std::fseek(f, 0, SEEK_END) == 0;
  const long length = sized ? std::ftell(f) : -1;
  std::fclose(f);
  if (!complete || length < 0) return false;
  // A data size of 0 is what a writer leaves when it never finished the header; the
  // samples then run to the end of the file, as the filter reads them.
  const uint32_t data_size = wav::GetLe32(h + wav::kDataSizeOffset);
  if (data_size != 0 && int64_t{data_size} + kWaveHeaderSize < length) return false;
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
  const int64_t pairs = std::llround(std::min(std::fabs(offset), 1e9) * kSoundSampleRate);
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
        static_cast<int64_t>(std::min(max_seconds, 1e9) * kSoundSampleRate) * kBytesPerSamplePair;
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
          progress(static_cast<double>(output.written) / (kSoundSampleRate * kBytesPerSamplePair));
        return !output.full;
      });
  if (!done) {
    result.stopped = true;
    return result;
  }
  output.Finish();
  result.data_bytes = output.written;
  result.damaged_packets = decoder.damaged();
  return result;
}

}  // namespace trackloom::cli::ffmpeg

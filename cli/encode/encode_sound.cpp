// The sound trackloom encode hands the filter: a WAV already in the player's format,
// or one converted from another file or the input, or none.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/fs_path.h"
#include "cli/common/interrupt.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/progress.h"
#include "cli/common/read_once.h"
#include "cli/common/temp_file.h"
#include "cli/disc/make_disc.h"
#include "cli/encode/encode_run_plan.h"
#include "cli/encode/encode_steps.h"
#include "cli/encode/filter_session.h"
#include "cli/encode/track_staging.h"
#include "cli/ffmpeg/audio_convert.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/disc_time.h"
#include "cli/tracks/track_files.h"
#include "core/wave_file.h"
#include "host/filter_module.h"

namespace trackloom::cli::encode {

namespace {

constexpr char kConvertedSound[] = "the converted sound";

// What the loudness measurement found and what was done about it, for the summary.
std::string LevelDescription(const ffmpeg::AudioConversion& c,
                             const ffmpeg::SoundOptions& options) {
  std::string text = options.mono ? ", mixed to mono" : "";
  if (c.player_format) return text + ", already 8-bit 17640 Hz: samples kept as they are";
  if (std::isnan(options.loudness_target)) return text + ", at its own level";
  char part[160];
  if (!(c.input_loudness > -69)) return text + ", too quiet to measure, at its own level";
  std::snprintf(part, sizeof part, ", %.1f LUFS %s %.1f dB to %.1f LUFS%s", c.input_loudness,
                c.gain_db >= 0 ? "raised" : "lowered", std::fabs(c.gain_db),
                c.input_loudness + c.gain_db, c.limited ? ", peaks limited" : "");
  return text + part;
}

double SoundSeconds(uint64_t bytes) {
  return static_cast<double>(bytes) / (kSoundSampleRate * kSoundChannels);
}

// The input's sound is read in passes of its own from its start. The picture source
// is let go meanwhile and opened again after, so that an MP4's index (tens of MB for
// a film of hours, which every reader of the file builds) is not held twice. One that
// can be read only once is kept.
ffmpeg::AudioConversion ConvertInputSound(
    const EncodeOptions& o, EncodePlan& plan,
    const std::function<ffmpeg::AudioConversion(double start)>& convert) {
  const double start = plan.video->video_start_seconds();
  if (IsReadOnce(plan.source)) return convert(start);
  plan.video.reset();
  ffmpeg::AudioConversion converted = convert(start);
  if (converted.stopped) return converted;  // nothing is rendered
  plan.video = NamingInput(plan.source, o.input, [&] {
    return ffmpeg::VideoSource::Open(plan.source, o.pictures, o.generated);
  });
  return converted;
}

// An input without sound: silent tracks, said so.
AudioPlan WithoutSound(const EncodeOptions& o, const EncodePlan& plan, TempFile& temp) {
  if (plan.video->still()) throw CliError(StillWithoutSound(o.input));
  temp.Remove();
  AudioPlan audio;
  audio.description = "none (the input has no sound)";
  o.report.Note("'" + o.input + "' has no audio stream; the tracks will be silent");
  return audio;
}

}  // namespace

// The sound the filter reads: as given, converted from another file, converted from
// the input, or none. Nothing when Ctrl-C stopped the conversion.
std::optional<AudioPlan> PrepareSound(const EncodeOptions& o, EncodePlan& plan, TempFile& temp) {
  AudioPlan audio;
  if (o.no_audio) {
    audio.description = "none (--no-audio)";
    return audio;
  }
  if (plan.relayed != nullptr) return WithoutSound(o, plan, temp);
  if (plan.audio_file && ffmpeg::IsTrackAudioWav(plan.audio_source)) {
    audio.path = plan.audio_source;
    audio.description = "'" + *plan.audio_file + "' as it is";
    std::error_code error;
    const auto bytes = std::filesystem::file_size(FsPath(plan.audio_source), error);
    if (!error) audio.seconds = SoundSeconds(bytes);
    return audio;
  }
  // Converting the sound of a long film takes a while: say so on a terminal.
  Progress status(o.report.err, o.report.ShowsProgress(), -1);
  const int64_t estimated = plan.video->estimated_frames();
  const double video_seconds =
      estimated > 0 ? static_cast<double>(estimated) / kFramesPerSecond : -1;
  // Two passes: the loudness is measured over the whole sound, then it is converted.
  auto stage = [&](const char* what) {
    return [&status, what, video_seconds](double seconds) {
      std::string line = std::string(what) + ": " + FormatDuration(seconds);
      if (video_seconds > 0) line += " of " + FormatDuration(video_seconds);
      status.Show(line);
    };
  };
  const auto progress = stage("converting the sound");
  const auto measuring = stage("measuring the loudness");
  // Sound past the last record that may be written is never heard.
  const double far_seconds = static_cast<double>(plan.far_records) / kFramesPerSecond;
  temp.CreateUnnamed(plan.directory, kSoundPrefix, kSoundSuffix);
  ffmpeg::SoundOptions sound = o.sound;
  // For the sound benchmark, which measures what the dither gains.
  if (const char* dither = std::getenv("TRACKLOOM_SOUND_DITHER");
      dither != nullptr && std::strcmp(dither, "none") == 0) {
    sound.dither = false;
  }
  ffmpeg::AudioConversion converted;
  if (plan.audio_file) {
    converted = NamingInput(plan.audio_source, *plan.audio_file, [&] {
      return ffmpeg::ConvertAudio(plan.audio_source, false, -1, far_seconds, sound, temp.path(),
                                  kConvertedSound, progress, measuring);
    });
  } else if (!o.generated) {
    converted = ConvertInputSound(o, plan, [&](double start) {
      return NamingInput(plan.source, o.input, [&] {
        return ffmpeg::ConvertAudio(plan.source, false, start, far_seconds, sound, temp.path(),
                                    kConvertedSound, progress, measuring);
      });
    });
  } else if (!o.generated_sound.empty()) {
    converted = ffmpeg::ConvertAudio(o.generated_sound, true, -1, far_seconds, sound, temp.path(),
                                     kConvertedSound, progress, measuring);
  }
  status.Finish();
  if (converted.stopped) return std::nullopt;
  if (converted.has_audio) {
    audio.path = temp.path();
    audio.description =
        plan.audio_file ? "converted from '" + *plan.audio_file + "'" : "converted from the input";
    audio.description += LevelDescription(converted, o.sound);
    audio.seconds = SoundSeconds(converted.data_bytes);
    audio.damaged_packets = converted.damaged_packets;
    audio.source = plan.audio_file ? *plan.audio_file : o.input;
    return audio;
  }
  if (plan.audio_file) {
    throw CliError("'" + *plan.audio_file + "' has no sound: " + converted.without_sound);
  }
  return WithoutSound(o, plan, temp);
}

// The sound file may be cut short by someone else while the encode reads it (the
// converted one too, through /proc or under its name): the tracks are then silent
// from where it ended. Empty when it was not.
std::string SoundCutShort(const std::string& file, const AudioPlan& audio,
                          const struct stat& before, const RenderOutcome& r) {
  struct stat after = {};
  if (stat(audio.path.c_str(), &after) != 0 || after.st_size >= before.st_size) return "";
  const double ended =
      SoundSeconds(static_cast<uint64_t>(std::max<off_t>(after.st_size - kWaveHeaderSize, 0)));
  const double rendered = static_cast<double>(r.report.frames_run) / kFramesPerSecond;
  if (ended >= rendered || ended >= audio.seconds) return "";
  return file + " was cut short while encoding: it ended at " + FormatDuration(ended) +
         "; the rest is silent";
}

}  // namespace trackloom::cli::encode

// The sound the filter reads: a canonical 44-byte-header PCM WAV file, 8-bit
// unsigned, stereo, 17640 Hz (1960 bytes for each 1/18 s frame).
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

#include "core/track_format.h"

namespace trackloom::cli::ffmpeg {

// True when path already is such a file, header for header as the filter checks it,
// and holds nothing after its sample data, so it can be handed over unconverted.
// (The filter reads every byte after the header as sound: a chunk after the data,
// such as a LIST of tags, would reach the tracks as noise. Such a file is converted,
// which keeps only the samples.)
bool IsTrackAudioWav(const std::string& path);

// How the sound is made for 8 bits.
struct SoundOptions {
  // The integrated loudness (LUFS, EBU R128) the whole input is brought to by one
  // gain; NaN keeps the input's level. -16 LUFS puts speech and music high above the
  // hiss of 8-bit samples while the loud parts still fit under the peak ceiling, and
  // gives every video on a disc the same level.
  double loudness_target = kDefaultLoudness;
  bool mono = false;   // both channels the same: the source mixed down
  bool dither = true;  // dithered rather than rounded to 8 bits
  static constexpr double kDefaultLoudness = -16.0;
};

struct AudioConversion {
  bool has_audio = false;  // false: the input has no audio stream, nothing was written
  // Without one, what the input holds instead ("it holds a still picture").
  std::string without_sound;
  int64_t data_bytes = 0;  // sample bytes written after the header
  bool stopped = false;    // an interrupt ended the conversion early
  // What the loudness measurement found (NaN when not measured) and what was done.
  double input_loudness = std::nan("");
  double input_true_peak = std::nan("");  // linear, 1.0 full scale
  double gain_db = 0;
  bool limited = false;        // peaks above the ceiling were limited after the gain
  bool player_format = false;  // already 8-bit 17640 Hz: the samples were kept as they are
  // Packets of the sound the decoder refused as damaged (and frames it could not
  // decode): each lost only its own sound, which plays on without it.
  int64_t damaged_packets = 0;
};

struct Loudness {
  double integrated = std::nan("");  // LUFS; -70 for silence
  double true_peak = std::nan("");   // linear
  bool player_format = false;        // already 8-bit 17640 Hz sound
  bool stopped = false;
};

// The integrated loudness and true peak of the input's first audio stream (or of a
// generated source), as the sound will be heard: at 17640 Hz, in two channels (or one,
// with mono). Only the first max_seconds count when that is not negative. progress, if
// given, is told the seconds of sound measured so far, now and then.
Loudness MeasureLoudness(const std::string& input, bool generated, double max_seconds, bool mono,
                         const std::function<void(double seconds)>& progress = {});

// Decodes the first audio stream of input (or, when generated, the sound of the
// source filter chain input describes, e.g. "sine=duration=5") and writes it,
// resampled, levelled and dithered as options say, to out_path as a canonical track
// sound file; out_name names that file in messages (e.g. "the converted sound").
// start_seconds is the point of the input's timeline that becomes the file's start:
// sound before it is dropped, and silence fills any gap before the sound begins;
// a negative value starts at the sound's own beginning. The file ends after
// max_seconds (silence included) when that is not negative. Throws CliError with a
// one-line reason on failure.
// progress, if given, is told the seconds of sound written so far, now and then, and
// measuring the seconds measured in the loudness pass before it.
AudioConversion ConvertAudio(const std::string& input, bool generated, double start_seconds,
                             double max_seconds, const SoundOptions& options,
                             const std::string& out_path, const std::string& out_name,
                             const std::function<void(double seconds)>& progress = {},
                             const std::function<void(double seconds)>& measuring = {});

}  // namespace trackloom::cli::ffmpeg

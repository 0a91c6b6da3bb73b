// The sound the filter reads: a canonical 44-byte-header PCM WAV file, 8-bit
// unsigned, stereo, 17640 Hz (1960 bytes for each 1/18 s frame).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/track_format.h"
namespace trackloom::cli {

// The sound the filter takes, as the format states it.
inline constexpr int kTrackAudioRate = kSoundSampleRate;
inline constexpr int kTrackAudioChannels = kSoundChannels;
inline constexpr int kWavHeaderSize = kWaveHeaderSize;

// True when path already is such a file, header for header as the filter checks it,
// and holds nothing after its sample data, so it can be handed over unconverted.
// (The filter reads every byte after the header as sound: a chunk after the data,
// such as a LIST of tags, would reach the tracks as noise. Such a file is converted,
// which keeps only the samples.)
bool IsTrackAudioWav(const std::string& path);


struct AudioConversion {
  bool has_audio = false;  // false: the input has no audio stream, nothing was written
  int64_t data_bytes = 0;  // sample bytes written after the header
  bool stopped = false;    // an interrupt ended the conversion early
};

// Decodes the first audio stream of input (or, when generated, the sound of the
// source filter chain input describes, e.g. "sine=duration=5") and writes it,
// resampled, to out_path as a canonical track sound file; out_name names that file in
// messages (e.g. "the converted sound").
// start_seconds is the point of the input's timeline that becomes the file's start:
// sound before it is dropped, and silence fills any gap before the sound begins;
// a negative value starts at the sound's own beginning. The file ends after
// max_seconds (silence included) when that is not negative. Throws CliError with a
// one-line reason on failure.
// progress, if given, is told the seconds of sound written so far, now and then.
AudioConversion ConvertAudio(const std::string& input, bool generated, double start_seconds,
                             double max_seconds, const std::string& out_path, const std::string& out_name,
                             const std::function<void(double seconds)>& progress = {});

}  // namespace trackloom::cli

// Feeds arbitrary bytes, as a file, to both checks of the sound file's WAV header:
// the filter's (WaveFile::CheckHeader, at the start of an encode) and the command's
// (IsTrackAudioWav, which decides whether a file is handed to the filter as it is).
// Neither may read outside the file, and a file the command hands over unconverted
// must be one the filter takes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cli/ffmpeg/audio_convert.h"
#include "core/track_format.h"
#include "core/wave_file.h"
#include "fuzz/memory_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static trackloom::fuzz::MemoryFile file;
  file.Set(data, size);
  trackloom::WaveFile* wave = trackloom::WaveFile::OpenForRead(file.path().c_str());
  Check(wave != nullptr);
  const bool filter_takes = wave->CheckHeader(
      trackloom::kSoundSampleRate, trackloom::kSoundBitsPerSample, trackloom::kSoundChannels);
  if (filter_takes) Check(wave->Position() == trackloom::kWaveHeaderSize);
  trackloom::CloseAndFree(wave);
  const bool command_hands_over = trackloom::cli::ffmpeg::IsTrackAudioWav(file.path());
  if (command_hands_over) Check(filter_takes);
  return 0;
}

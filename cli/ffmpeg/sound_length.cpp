#include "cli/ffmpeg/sound_length.h"

#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/sound_decoder.h"

namespace trackloom::cli::ffmpeg {

double SoundSeconds(const std::string& input) {
  SoundDecoder sound;
  if (!sound.Open(input, false) || sound.stream() == nullptr) return 0;
  const AVStream& stream = *sound.stream();
  if (stream.duration <= 0) return 0;
  return static_cast<double>(stream.duration) * av_q2d(stream.time_base);
}

}  // namespace trackloom::cli::ffmpeg

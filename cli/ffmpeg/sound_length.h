// How long the sound of an input plays, as its container tells it, for a plan made
// before anything is converted (the studio's disc bar).
#pragma once

#include <string>

namespace trackloom::cli::ffmpeg {

// Seconds of input's sound, or 0 when it has none or does not say. Throws CliError
// when the input cannot be read.
double SoundSeconds(const std::string& input);

}  // namespace trackloom::cli::ffmpeg

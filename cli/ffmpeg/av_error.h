// FFmpeg's negative error codes as text for the command's messages.
#pragma once

#include <string>

namespace trackloom::cli::ffmpeg {

// FFmpeg's text for one of its negative error codes.
std::string AvErrorText(int error);

}  // namespace trackloom::cli::ffmpeg

// FFmpeg's own messages: how many of them the user sees, and by which way. They go
// through the command's one route to the terminal (Tell), a line each, with
// "ffmpeg: " before it, never straight to stderr.
#pragma once

#include <cstdio>

namespace trackloom::cli::ffmpeg {

enum class FfmpegLog {
  kQuiet,     // none: every failure is told by the command in its own words
  kWarnings,  // warnings and errors (encode --verbose)
};

// Sets what FFmpeg may say from now on, and where (err). Safe to call again.
void RouteFfmpegLog(std::FILE* err, FfmpegLog level);

}  // namespace trackloom::cli::ffmpeg

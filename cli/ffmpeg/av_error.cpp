#include "cli/ffmpeg/av_error.h"

extern "C" {
#include <libavutil/error.h>
}

namespace trackloom::cli::ffmpeg {

std::string AvErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

}  // namespace trackloom::cli::ffmpeg

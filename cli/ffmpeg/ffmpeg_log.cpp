#include "cli/ffmpeg/ffmpeg_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <mutex>
#include <string>

#include "cli/common/messages.h"

namespace trackloom::cli::ffmpeg {

namespace {

std::mutex log_mutex;
std::FILE* log_out = stderr;
std::string log_line;  // a line FFmpeg gave in pieces, until its end comes
int log_prefix = 1;    // av_log_format_line2's state: whether a line is being begun

// FFmpeg calls this from any of its threads.
void OnFfmpegLog(void* object, int level, const char* format, va_list args) {
  if (level > av_log_get_level()) return;
  char text[1024];
  std::lock_guard lock(log_mutex);
  if (av_log_format_line2(object, level, format, args, text, sizeof text, &log_prefix) < 0) return;
  log_line += text;
  for (size_t end; (end = log_line.find('\n')) != std::string::npos; log_line.erase(0, end + 1)) {
    if (end > 0) Tell(log_out, "ffmpeg: " + log_line.substr(0, end));
  }
}

}  // namespace

void RouteFfmpegLog(std::FILE* err, FfmpegLog level) {
  {
    std::lock_guard lock(log_mutex);
    log_out = err;
  }
  av_log_set_level(level == FfmpegLog::kWarnings ? AV_LOG_WARNING : AV_LOG_QUIET);
  av_log_set_callback(OnFfmpegLog);
}

}  // namespace trackloom::cli::ffmpeg

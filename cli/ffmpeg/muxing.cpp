#include "cli/ffmpeg/muxing.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/ffmpeg/av_error.h"
#include "core/track_format.h"

namespace trackloom::cli {

bool OpenMuxerFile(AVFormatContext* format, const std::string& path, bool* created,
                   std::string* error) {
  int open_error = 0;
  const int fd = OpenOutputFile(path, &open_error);
  if (fd < 0) {
    *error = "cannot create " + path + ": " + DescribeWriteError(path, open_error);
    return false;
  }
  *created = true;
  const std::string by_descriptor = "/proc/self/fd/" + std::to_string(fd);
  struct stat info {};
  const std::string url =
      kMayHaveProcSelfFd && ::stat(by_descriptor.c_str(), &info) == 0 ? by_descriptor : path;
  const int rc = avio_open(&format->pb, ("file:" + url).c_str(), AVIO_FLAG_WRITE);
  ::close(fd);
  if (rc < 0) {
    *error = "cannot create " + path + ": " + AvErrorText(rc);
    return false;
  }
  return true;
}

bool SetChapters(AVFormatContext* format, const std::vector<VideoChapter>& chapters,
                 int64_t end_record) {
  for (size_t i = 0; i < chapters.size(); ++i) {
    auto* c = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    auto** grown = static_cast<AVChapter**>(
        av_realloc_array(format->chapters, format->nb_chapters + 1, sizeof(AVChapter*)));
    if (c == nullptr || grown == nullptr) {
      av_free(c);
      return false;
    }
    format->chapters = grown;
    format->chapters[format->nb_chapters++] = c;
    c->id = static_cast<int64_t>(i) + 1;
    c->time_base = AVRational{1, kFramesPerSecond};
    c->start = chapters[i].first_record;
    c->end = i + 1 < chapters.size() ? chapters[i + 1].first_record : end_record;
    if (av_dict_set(&c->metadata, "title", chapters[i].title.c_str(), 0) < 0) return false;
  }
  return true;
}

}  // namespace trackloom::cli

#include "cli/ffmpeg/muxer.h"

extern "C" {
#include <libavutil/mem.h>
}

#include <cstdio>

#include "cli/common/cli_error.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"
#include "cli/ffmpeg/av_error.h"
#include "core/track_format.h"

namespace trackloom::cli::ffmpeg {
namespace {

// Opens path by the rules every output keeps (no link followed, no FIFO waited on, no
// file with other names emptied), then hands the library that very file through the
// descriptor's name: the library's own open follows links and blocks on a FIFO.
// *created: the name now holds a file of this run.
void OpenMuxerFile(AVFormatContext* format, const std::string& path, bool* created) {
  int open_error = 0;
  const UniqueFd fd(OpenOutputFile(path, &open_error));
  if (!fd) throw CliError("cannot create " + path + ": " + DescribeWriteError(path, open_error));
  *created = true;
  const std::string by_descriptor = "/proc/self/fd/" + std::to_string(fd.get());
  struct stat info = {};
  const std::string url =
      kMayHaveProcSelfFd && ::stat(by_descriptor.c_str(), &info) == 0 ? by_descriptor : path;
  const int rc = avio_open(&format->pb, ("file:" + url).c_str(), AVIO_FLAG_WRITE);
  if (rc < 0) throw CliError("cannot create " + path + ": " + AvErrorText(rc));
}

// Puts the chapters on format before the trailer is written, which is where the
// Matroska and MP4 muxers write them. False when out of memory.
bool SetChapters(AVFormatContext* format, const std::vector<VideoChapter>& chapters,
                 int64_t end_record) {
  for (size_t i = 0; i < chapters.size(); ++i) {
    auto* c = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
    auto** grown = static_cast<AVChapter**>(
        av_realloc_array(format->chapters, format->nb_chapters + 1, sizeof(AVChapter*)));
    if (c == nullptr || grown == nullptr) {
      ::av_free(c);
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

}  // namespace

std::unique_ptr<Muxer> Muxer::For(const std::string& path, const char* format_name) {
  AVFormatContext* format = nullptr;
  const int rc = avformat_alloc_output_context2(&format, nullptr, format_name, path.c_str());
  OutputFormatPtr owned(format);
  if (rc < 0 || owned == nullptr) return nullptr;
  return std::unique_ptr<Muxer>(new Muxer(path, std::move(owned)));
}

Muxer::~Muxer() {
  // The file is closed (by its owner) before an unfinished one is removed.
  format_.reset();
  if (created_ && !finished_) std::remove(path_.c_str());
}

bool Muxer::global_header() const { return (format_->oformat->flags & AVFMT_GLOBALHEADER) != 0; }

AVStream& Muxer::AddStream(const Encoder& encoder) {
  AVStream& stream = AddStream();
  if (avcodec_parameters_from_context(stream.codecpar, &encoder.context()) < 0)
    throw CliError("out of memory setting up " + path_);
  stream.time_base = encoder.context().time_base;
  return stream;
}

AVStream& Muxer::AddStream() {
  AVStream* stream = avformat_new_stream(format_.get(), nullptr);
  if (stream == nullptr) throw CliError("out of memory setting up " + path_);
  return *stream;
}

void Muxer::Begin() {
  if ((format_->oformat->flags & AVFMT_NOFILE) == 0) OpenMuxerFile(format_.get(), path_, &created_);
  created_ = true;
  const int rc = avformat_write_header(format_.get(), nullptr);
  if (rc < 0) throw CliError("cannot write " + path_ + ": " + AvErrorText(rc));
}

void Muxer::Write(AVPacket& packet, const AVStream& stream, AVRational from) {
  av_packet_rescale_ts(&packet, from, stream.time_base);
  packet.stream_index = stream.index;
  const int rc = av_interleaved_write_frame(format_.get(), &packet);
  if (rc < 0) throw CliError("cannot write " + path_ + ": " + AvErrorText(rc));
}

void Muxer::Encode(Encoder& encoder, const AVStream& stream, const AVFrame* frame) {
  encoder.Send(frame, [&](AVPacket& p) { Write(p, stream, encoder.context().time_base); });
}

void Muxer::Finish(const std::vector<VideoChapter>& chapters, int64_t end_record) {
  if (!SetChapters(format_.get(), chapters, end_record))
    throw CliError("out of memory for the chapters of " + path_);
  int rc = av_write_trailer(format_.get());
  if (rc >= 0 && (format_->oformat->flags & AVFMT_NOFILE) == 0) rc = avio_closep(&format_->pb);
  if (rc < 0) throw CliError("cannot finish " + path_ + ": " + AvErrorText(rc));
  finished_ = true;
}

}  // namespace trackloom::cli::ffmpeg

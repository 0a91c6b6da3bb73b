#include "cli/ffmpeg/muxer.h"

#include <cstdio>

#include "cli/common/cli_error.h"
#include "cli/ffmpeg/av_error.h"

namespace trackloom::cli {

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
  std::string error;
  if ((format_->oformat->flags & AVFMT_NOFILE) == 0 &&
      !OpenMuxerFile(format_.get(), path_, &created_, &error)) {
    throw CliError(error);
  }
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

}  // namespace trackloom::cli
